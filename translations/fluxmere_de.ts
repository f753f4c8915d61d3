<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>Sitting</name>
    <message>
        <source>The name %1 holds characters that Data.txt and Runs.txt cannot keep: they keep Latin-1 text, as the lab&apos;s files and scripts expect. Please type the name with other characters.</source>
        <translation>Der Name %1 enthält Zeichen, die Data.txt und Runs.txt nicht speichern können: Diese Dateien speichern Text in Latin-1, wie es die Dateien und Skripte des Labors erwarten. Bitte geben Sie den Namen mit anderen Zeichen ein.</translation>
    </message>
    <message>
        <source>Before you start</source>
        <translation>Bevor Sie beginnen</translation>
    </message>
    <message>
        <source>Please answer these questions about the instructions.</source>
        <translation>Bitte beantworten Sie diese Fragen zu den Anweisungen.</translation>
    </message>
    <message>
        <source>Thank you. The study ends here, since the questions about the instructions were not answered rightly.</source>
        <translation>Vielen Dank. Die Studie endet hier, da die Fragen zu den Anweisungen nicht richtig beantwortet wurden.</translation>
    </message>
    <message>
        <source>The practice is over. The task starts now, from period 1.</source>
        <translation>Die Übung ist beendet. Die Aufgabe beginnt jetzt bei Zeitperiode 1.</translation>
    </message>
    <message>
        <source>Part %1 of %2 is over. The next part starts now, from period 1.</source>
        <translation>Teil %1 von %2 ist beendet. Der nächste Teil beginnt jetzt bei Zeitperiode 1.</translation>
    </message>
</context>
<context>
    <name>StudyQuestionnaire</name>
    <message>
        <source>Question %1</source>
        <translation>Frage %1</translation>
    </message>
    <message>
        <source>Questionnaire</source>
        <translation>Fragebogen</translation>
    </message>
    <message>
        <source>Submit</source>
        <translation>Absenden</translation>
    </message>
    <message>
        <source>Please answer Question %1</source>
        <translation>Bitte beantworten Sie Frage %1</translation>
    </message>
    <message>
        <source>(%1 to %2)</source>
        <translation>(%1 bis %2)</translation>
    </message>
    <message>
        <source>Please give a number from %1 to %2 in Question %3</source>
        <translation>Bitte geben Sie in Frage %3 eine Zahl von %1 bis %2 an</translation>
    </message>
    <message>
        <source>%1: not right, please look again</source>
        <translation>%1: nicht richtig, bitte sehen Sie noch einmal nach</translation>
    </message>
    <message>
        <source>Not all answers are right. Please look again at %1, then Submit.</source>
        <translation>Nicht alle Antworten sind richtig. Bitte sehen Sie sich %1 noch einmal an und klicken Sie dann auf Absenden.</translation>
    </message>
</context>
<context>
    <name>Tasks1</name>
    <message>
        <source>How difficult was the present task of keeping the water level in the tank between %1 Gallons and %2 Gallons? (Please rate on a 1 to 10 scale with 10 as most difficult and 1 as least difficult and provide any extra information on reasons for your rating)</source>
        <translation>Wie schwierig war die Aufgabe, den Wasserstand im Tank zwischen %1 Gallonen und %2 Gallonen zu halten? (Bitte bewerten Sie auf einer Skala von 1 bis 10, wobei 10 am schwierigsten und 1 am leichtesten ist, und nennen Sie gegebenenfalls weitere Gründe für Ihre Bewertung)</translation>
    </message>
    <message>
        <source>What strategy did you follow to keep the number of people in the store as close to the goal as possible? (Try to answer the question even if your strategy did not work for you in the experiment). </source>
        <translation>Welche Strategie haben Sie verfolgt, um die Anzahl der Personen im Kaufhaus möglichst nah am Ziel zu halten? (Bitte antworten Sie auch, wenn Ihre Strategie nicht aufgegangen ist.) </translation>
    </message>
    <message>
        <source>Did you change your strategy at any stage in the experiment? If you did so, can you specify what your changes to strategy were during the course of the experiment?</source>
        <translation>Haben Sie Ihre Strategie im Laufe des Experiments geändert? Wenn ja, können Sie beschreiben, wie Sie Ihre Strategie im Verlauf des Experiments geändert haben?</translation>
    </message>
    <message>
        <source>Select</source>
        <translation>Auswählen</translation>
    </message>
    <message>
        <source>Department Store Task Questionnaire</source>
        <translation>Fragebogen zur Kaufhaus-Aufgabe</translation>
    </message>
    <message>
        <source>Question 1</source>
        <translation>Frage 1</translation>
    </message>
    <message>
        <source>Difficulty Rating</source>
        <translation>Schwierigkeit</translation>
    </message>
    <message>
        <source>Resons for your rating (Write in space below):</source>
        <translation>Gründe für Ihre Bewertung (bitte unten eintragen):</translation>
    </message>
    <message>
        <source>Question 2</source>
        <translation>Frage 2</translation>
    </message>
    <message>
        <source>Question 3</source>
        <translation>Frage 3</translation>
    </message>
    <message>
        <source>Submit</source>
        <translation>Absenden</translation>
    </message>
    <message>
        <source>Please give rating in Question 1</source>
        <translation>Bitte geben Sie in Frage 1 eine Bewertung an</translation>
    </message>
    <message>
        <source>Please answer Question 2</source>
        <translation>Bitte beantworten Sie Frage 2</translation>
    </message>
    <message>
        <source>Please answer Question 3</source>
        <translation>Bitte beantworten Sie Frage 3</translation>
    </message>
    <message>
        <source>Questionnaire</source>
        <translation>Fragebogen</translation>
    </message>
</context>
<context>
    <name>frmConsent</name>
    <message>
        <source>Consent</source>
        <translation>Einwilligung</translation>
    </message>
    <message>
        <source>I do not agree</source>
        <translation>Ich stimme nicht zu</translation>
    </message>
    <message>
        <source>I agree</source>
        <translation>Ich stimme zu</translation>
    </message>
    <message>
        <source>Thank you. You have chosen not to take part.</source>
        <translation>Vielen Dank. Sie haben sich entschieden, nicht teilzunehmen.</translation>
    </message>
</context>
<context>
    <name>frmInstructions</name>
    <message>
        <source>Instructions</source>
        <translation>Anleitung</translation>
    </message>
    <message>
        <source>Back</source>
        <translation>Zurück</translation>
    </message>
    <message>
        <source>Next</source>
        <translation>Weiter</translation>
    </message>
    <message>
        <source>Page %1 of %2</source>
        <translation>Seite %1 von %2</translation>
    </message>
</context>
<context>
    <name>frmKrugel</name>
    <message>
        <source>User flow Action in Play</source>
        <translation>Ihre Zu- und Abflüsse wirken</translation>
    </message>
    <message>
        <source>Environment Action in Play</source>
        <translation>Externe Zu- und Abflüsse wirken</translation>
    </message>
    <message>
        <source>ENV: </source>
        <translation>EXT: </translation>
    </message>
    <message>
        <source>Ah ha! Your previous request for Inflow and OutFlow cannot be met in this time period!</source>
        <translation>Aha! Ihre frühere Bestellung von Zufluss und Abfluss kann in dieser Zeitperiode nicht erfüllt werden!</translation>
    </message>
    <message>
        <source>USER: </source>
        <translation>SIE: </translation>
    </message>
    <message>
        <source>Try to meet the goal line on the tank by adjusting Inflow and Outflow</source>
        <translation>Versuchen Sie, die Ziellinie im Tank zu erreichen, indem Sie Zufluss und Abfluss anpassen</translation>
    </message>
    <message>
        <source>Gallons</source>
        <translation>Gallonen</translation>
    </message>
    <message>
        <source>Fluxmere - Practice</source>
        <translation>Fluxmere - Übung</translation>
    </message>
    <message>
        <source>Practice</source>
        <translation>Übung</translation>
    </message>
    <message>
        <source>Goal</source>
        <translation>Ziel</translation>
    </message>
    <message>
        <source>User Inflow</source>
        <translation>Ihr Zufluss</translation>
    </message>
    <message>
        <source>Environment Inflow</source>
        <translation>Externer Zufluss</translation>
    </message>
    <message>
        <source>User Outflow</source>
        <translation>Ihr Abfluss</translation>
    </message>
    <message>
        <source>Environment Outflow</source>
        <translation>Externer Abfluss</translation>
    </message>
    <message>
        <source>Time Period</source>
        <translation>Zeitperiode</translation>
    </message>
    <message>
        <source>of</source>
        <translation>von</translation>
    </message>
    <message>
        <source>Env InFlow(%1/Hour):</source>
        <translation>Ext. Zufluss (%1/Std.):</translation>
    </message>
    <message>
        <source>Env OutFlow(%1/Hour):</source>
        <translation>Ext. Abfluss (%1/Std.):</translation>
    </message>
    <message>
        <source>UserInFlow(%1/Hour):</source>
        <translation>Ihr Zufluss (%1/Std.):</translation>
    </message>
    <message>
        <source>UserOutFlow(%1/Hour):</source>
        <translation>Ihr Abfluss (%1/Std.):</translation>
    </message>
    <message>
        <source>Goal(%1):</source>
        <translation>Ziel (%1):</translation>
    </message>
    <message>
        <source>Amount in Tank(%1):</source>
        <translation>Menge im Tank (%1):</translation>
    </message>
    <message>
        <source>Back Order (Gallons):</source>
        <translation>Ausstehender Zufluss (Gallonen):</translation>
    </message>
    <message>
        <source>Dch Order (Gallons):</source>
        <translation>Ausstehender Abfluss (Gallonen):</translation>
    </message>
    <message>
        <source>Make Decision-&gt;</source>
        <translation>Entscheidung-&gt;</translation>
    </message>
    <message>
        <source>Enter the Inflow(%1/Hour):</source>
        <translation>Zufluss eingeben (%1/Std.):</translation>
    </message>
    <message>
        <source>Enter the Outflow(%1/Hour):</source>
        <translation>Abfluss eingeben (%1/Std.):</translation>
    </message>
    <message>
        <source>Submit</source>
        <translation>Absenden</translation>
    </message>
    <message>
        <source>Current bonus for the time period is:</source>
        <translation>Bonus für diese Zeitperiode:</translation>
    </message>
    <message>
        <source>Total money to be paid at the end:</source>
        <translation>Am Ende ausgezahlter Gesamtbetrag:</translation>
    </message>
    <message>
        <source>Practice, not paid:</source>
        <translation>Übung, nicht bezahlt:</translation>
    </message>
    <message>
        <source>The inflow must be a number. Please enter it again.</source>
        <translation>Der Zufluss muss eine Zahl sein. Bitte geben Sie ihn erneut ein.</translation>
    </message>
    <message>
        <source>The outflow must be a number. Please enter it again.</source>
        <translation>Der Abfluss muss eine Zahl sein. Bitte geben Sie ihn erneut ein.</translation>
    </message>
    <message>
        <source>Exit Application</source>
        <translation>Programm beenden</translation>
    </message>
    <message>
        <source>Are you sure you want to exit?</source>
        <translation>Möchten Sie das Programm wirklich beenden?</translation>
    </message>
</context>
<context>
    <name>frmLogin</name>
    <message>
        <source>Welcome</source>
        <translation>Willkommen</translation>
    </message>
    <message>
        <source>Login: </source>
        <translation>Anmeldung: </translation>
    </message>
    <message>
        <source>Version:</source>
        <translation>Version:</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>Starten</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>Language:</source>
        <translation>Sprache:</translation>
    </message>
</context>
<context>
    <name>frmNewSubject</name>
    <message>
        <source>Major</source>
        <translation>Studienfach</translation>
    </message>
    <message>
        <source>Subject Info: %1</source>
        <translation>Angaben zur Person: %1</translation>
    </message>
    <message>
        <source>Accounting</source>
        <translation>Rechnungswesen</translation>
    </message>
    <message>
        <source>Anthropology</source>
        <translation>Anthropologie</translation>
    </message>
    <message>
        <source>Architecture</source>
        <translation>Architektur</translation>
    </message>
    <message>
        <source>Biology</source>
        <translation>Biologie</translation>
    </message>
    <message>
        <source>Business Administration</source>
        <translation>Betriebswirtschaftslehre</translation>
    </message>
    <message>
        <source>Chemistry</source>
        <translation>Chemie</translation>
    </message>
    <message>
        <source>Computer Science</source>
        <translation>Informatik</translation>
    </message>
    <message>
        <source>Economics</source>
        <translation>Volkswirtschaftslehre</translation>
    </message>
    <message>
        <source>Education</source>
        <translation>Erziehungswissenschaft</translation>
    </message>
    <message>
        <source>Electrical Engineering</source>
        <translation>Elektrotechnik</translation>
    </message>
    <message>
        <source>English</source>
        <translation>Anglistik</translation>
    </message>
    <message>
        <source>Finance</source>
        <translation>Finanzwirtschaft</translation>
    </message>
    <message>
        <source>History</source>
        <translation>Geschichte</translation>
    </message>
    <message>
        <source>Industrial Engineering</source>
        <translation>Wirtschaftsingenieurwesen</translation>
    </message>
    <message>
        <source>Information Systems</source>
        <translation>Wirtschaftsinformatik</translation>
    </message>
    <message>
        <source>Management</source>
        <translation>Management</translation>
    </message>
    <message>
        <source>Marketing</source>
        <translation>Marketing</translation>
    </message>
    <message>
        <source>Mathematics</source>
        <translation>Mathematik</translation>
    </message>
    <message>
        <source>Mechanical Engineering</source>
        <translation>Maschinenbau</translation>
    </message>
    <message>
        <source>Philosophy</source>
        <translation>Philosophie</translation>
    </message>
    <message>
        <source>Physics</source>
        <translation>Physik</translation>
    </message>
    <message>
        <source>Political Science</source>
        <translation>Politikwissenschaft</translation>
    </message>
    <message>
        <source>Psychology</source>
        <translation>Psychologie</translation>
    </message>
    <message>
        <source>Public Policy</source>
        <translation>Verwaltungswissenschaft</translation>
    </message>
    <message>
        <source>Sociology</source>
        <translation>Soziologie</translation>
    </message>
    <message>
        <source>Statistics</source>
        <translation>Statistik</translation>
    </message>
    <message>
        <source>Other</source>
        <translation>Sonstiges</translation>
    </message>
    <message>
        <source>Gender</source>
        <translation>Geschlecht</translation>
    </message>
    <message>
        <source>Male</source>
        <translation>Männlich</translation>
    </message>
    <message>
        <source>Female</source>
        <translation>Weiblich</translation>
    </message>
    <message>
        <source>Age:</source>
        <translation>Alter:</translation>
    </message>
    <message>
        <source>Begin</source>
        <translation>Beginnen</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
</context>
<context>
    <name>frmPasswordAuth</name>
    <message>
        <source>Authentication</source>
        <translation>Authentifizierung</translation>
    </message>
    <message>
        <source>Username</source>
        <translation>Benutzername</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>Passwort</translation>
    </message>
    <message>
        <source>Exit Application</source>
        <translation>Programm beenden</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Please enter Username</source>
        <translation>Bitte geben Sie den Benutzernamen ein</translation>
    </message>
    <message>
        <source>Please enter Password</source>
        <translation>Bitte geben Sie das Passwort ein</translation>
    </message>
    <message>
        <source>Password Incorrect</source>
        <translation>Falsches Passwort</translation>
    </message>
    <message>
        <source>Username or Password is incorrect. Please try again</source>
        <translation>Benutzername oder Passwort ist falsch. Bitte versuchen Sie es erneut</translation>
    </message>
</context>
</TS>
