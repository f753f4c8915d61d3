-- The database of subject records and questionnaire answers. The build makes data/Krugel.db
-- from this file when there is none; the program only appends rows and never changes the tables.
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

COMMIT;
