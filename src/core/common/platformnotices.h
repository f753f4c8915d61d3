#pragma once

// Drops the notices Qt's platform prints on every headless start, which say nothing about
// the run: in the logs of a thousand instances they would hide a real error. Only these exact
// texts are dropped; every other message goes on as Qt would print it. Call it before the
// application object exists.
void silencePlatformNotices();
