#pragma once

#include "core/common/dialogs.h"
#include "core/engine/periodrunner.h"
#include "core/engine/taskview.h"

#include <QWidget>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

// The window in which the task is played. It draws the TaskView it is given and says what
// the person did: a decision submitted, a wish to leave. Every control's objectName is its
// design name; members of a control array are named with their index, as "Water0(2)".
class frmKrugel : public QWidget {
    Q_OBJECT
public:
    frmKrugel(const TaskView &view, Dialogs &dialogs, QWidget *parent = nullptr);

    // Draws `view`. The entry boxes take its texts only when the run has set them anew, so
    // what a person types in between stays.
    void showView(const TaskView &view);

    // Submit: the decision in the entry boxes (an empty box is 0). A box that does not hold a
    // number is handed back to the person with a message; nothing happens while a period runs.
    void cmdNextTrial_Click();

    QLineEdit *inflowBox() const { return m_txtUsrInflowVal; }
    QLineEdit *outflowBox() const { return m_txtUsrOutflowVal; }
    const TaskView &view() const { return m_view; }

signals:
    void submitted(const Decision &decision);
    // The person wants to leave: Ctrl+X, which the program first confirms with the person
    // (`confirmFirst`), or the close box, which leads straight to the exit authentication.
    // The window stays open either way; it never closes itself, the program hides it.
    void leaveAsked(bool confirmFirst);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void buildControls();
    void buildStatusDisplay();
    void buildDecisionInput();
    void buildMoneyDisplay();
    void buildTankDrawing();
    void markPractice();
    QLabel *addLabel(const QString &name, const QString &caption, const QRect &rect,
                     double pointSize = 12);
    QFrame *addBox(const QString &name, const QRect &rect, const QColor &colour);
    void render();
    void showEntryTexts();

    bool filterEntryKey(QLineEdit *box, QKeyEvent *key);
    // Shows `message` and returns false when the box holds no number; the box gets the
    // focus back once the message is closed.
    bool entryIsNumber(QLineEdit *box, const QString &message);
    QString unitCaption() const;

    TaskView m_view;
    Dialogs &m_dialogs;
    bool m_renderPending = true;

    QLineEdit *m_txtUsrInflowVal = nullptr;
    QLineEdit *m_txtUsrOutflowVal = nullptr;
    QPushButton *m_cmdNextTrial = nullptr;
};
