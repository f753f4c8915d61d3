#pragma once

#include "core/setup/studyfiles.h"

#include <QDialog>

class QKeyEvent;

// The study's end screen, its figures filled in, shown after the questionnaire until the
// experimenter closes it with the close box or Ctrl+Q; Escape and Enter leave it open.
class frmEndScreen : public QDialog {
    Q_OBJECT
public:
    explicit frmEndScreen(const StudyPage &page, QWidget *parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent *event) override;
};
