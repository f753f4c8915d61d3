-- The database of subject records and questionnaire answers. The build makes data/Krugel.db
-- from this file when there is none; the program appends rows, and adds the run tables and
-- datAnswer to a database made before they existed. It never changes a table that is there.
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
    Time TEXT  -- HH:MM:SS, 24-hour clock
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
    Player TEXT             -- who played: person (as in Runs.txt)
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
    AnswerNumber REAL   -- a rating's point; NULL for a choice or a text
);

COMMIT;
