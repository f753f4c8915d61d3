#pragma once

#include <QString>

#include <memory>

class ModelServer;
class QLockFile;
class RunHost;

// The program's lifetime: the data folder's lock taken at launch, the port it listens on, and
// the one end, which frees the folder, sends what is still due and leaves the event loop
// with the exit status.
class Lifetime {
public:
    explicit Lifetime(QString dataDirectory);
    ~Lifetime();

    // The folder is this instance's alone, writable, and its record files usable. Empty when
    // so, else why not.
    QString lockDataFolder(RunHost &runs);
    // Listens for models on `port` (0: any). Empty when listening, else why not.
    QString listen(ModelServer &server, quint16 port);
    // Ends the program with `status`, once the event loop is back.
    void end(ModelServer *server, int status);
    bool ending() const { return m_ending; }

private:
    QString m_dataDirectory;
    std::unique_ptr<QLockFile> m_lock;
    bool m_ending = false;
};
