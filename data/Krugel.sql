-- The database of subject records and questionnaire answers. The build makes data/Krugel.db
-- from this file when there is none; the program appends rows, and adds the run tables and
-- datAnswer to a database made before they existed, and the columns added since to one made
-- before them.
BEGIN;

-- One row per participant who accepted the subject information form.
CREATE TABLE datSubject (
    Subject TEXT,
    Version TEXT,
    Condition TEXT,
    Major TEXT,
    Gender TEXT,
    Age REAL,
    Date TEXT, -- yyyy-MM-dd
    Time TEXT, -- HH:MM:SS, 24-hour clock
    GenderNumber INTEGER -- the setup's GenderOptions: the option's number from 1; else NULL
);

-- Three rows per participant who submitted the closing questionnaire.
CREATE TABLE datQuestionnaire (
    Subject TEXT,
    Version TEXT,
    QuestionNumber INTEGER,
    QuestionAnswer TEXT
);

-- One row per person's run, tying it to the person's datSubject row (its rowid).
CREATE TABLE datRun (
    RunId TEXT PRIMARY KEY, -- as in Runs.txt
    Subject TEXT,
    StudyCondition TEXT,    -- empty in a folder without conditions
    SetupId TEXT,           -- the kept setup, setups/SETUPID.txt
    SubjectRowId INTEGER,   -- rowid of the person's datSubject row
    Player TEXT,            -- who played: person (as in Runs.txt)
    StudyFilesId TEXT       -- the study files it showed, studyfiles/STUDYFILESID/; NULL: none
);

-- One row per datQuestionnaire row a person's run wrote.
CREATE TABLE datRunQuestionnaire (
    RunId TEXT,
    QuestionnaireRowId INTEGER -- rowid of the datQuestionnaire row
);

-- One row per answer to a study's own questionnaire (Questionnaire.txt), tied to its run.
CREATE TABLE datAnswer (
    RunId TEXT,         -- as in Runs.txt
    QuestionId TEXT,    -- the question's id in Questionnaire.txt
    QuestionText TEXT,  -- the question as it was asked
    Answer TEXT,        -- the point, option or text given
    AnswerNumber REAL,  -- a rating's, slider's or number's value, a choice's option number
    AnswerOptions TEXT, -- the options chosen of a choice or multiple by number, as "1;3"
    Attempt INTEGER,    -- a comprehension check's Submit, from 1; else NULL
    Correct INTEGER     -- a checked question: 1 answered rightly, 0 not; else NULL
);

-- One row per person of a study with a design (Study.txt): their sitting, the language they
-- were shown and how they were given their conditions.
CREATE TABLE datSitting (
    SittingId TEXT,       -- the sitting's identity, as in datConsent
    SubjectRowId INTEGER, -- rowid of the person's datSubject row
    Language TEXT,        -- the language of their windows and study files ("de")
    Assignment TEXT,      -- rotation, random or chosen
    Seed TEXT,            -- a random draw's seed; NULL for the rotation
    Draw INTEGER,         -- the number of the draw with that seed
    Conditions TEXT       -- the conditions played, in order, joined by ", "
);

-- One row per answer to a study's consent page (consent.html), before any subject record.
CREATE TABLE datConsent (
    SittingId TEXT, -- the sitting's identity: its date, time and a random part
    Agreed INTEGER, -- 1 agreed, 0 declined
    Date TEXT,      -- ISO date of the answer
    Time TEXT       -- 24-hour time of the answer
);

-- One row per subject record of a browser's sitting: the identity the panel's link gave.
CREATE TABLE datPanel (
    SubjectRowId INTEGER, -- rowid of the person's datSubject row
    ParticipantId TEXT,   -- the link's participant id, also the subject's name
    StudyId TEXT,         -- the panel's study id; NULL when the link gave none
    SessionId TEXT        -- the panel's session id; NULL when the link gave none
);

COMMIT;
