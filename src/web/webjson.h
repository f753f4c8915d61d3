#pragma once

#include "core/common/language.h"
#include "core/engine/taskview.h"
#include "core/recording/questionnaire.h"
#include "core/setup/questionnairefile.h"
#include "core/setup/studyfiles.h"

#include <QJsonObject>
#include <QList>

#include <optional>

// The values a browser's page draws, as JSON, and what it sends back read into the program's
// own types. Nothing here decides a step: it only translates.

// Every figure, colour and position of the task window, as the view holds them.
QJsonObject ViewJson(const TaskView &view);
// The task window's captions in the person's language.
QJsonObject TaskCaptionsJson(const TaskView &view, const Translation &language);
// A study page: its HTML and the URL its relative references resolve against.
QJsonObject PageJson(const QString &dataDir, const StudyPage &page);
QJsonObject QuestionJson(const StudyQuestion &question);

// A decision's entry box as the task window takes it: digits and points (a comma typed as a
// point), empty for 0; nothing when it is no number.
std::optional<double> EntryNumber(const QString &text);

// The answer the page gives to `question` (a string, or for a multiple an array of option
// numbers from 1), read as the questionnaire window reads its controls; nothing when it is
// missing or out of range (`problem` says which, in the person's language).
std::optional<StudyAnswer> ReadAnswer(const StudyQuestion &question, const QJsonValue &given,
                                      int number, const Translation &language, QString *problem);
