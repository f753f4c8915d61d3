#pragma once

#include <QStringList>
#include <QWidget>

class QLabel;
class QPlainTextEdit;

// The connection window, hidden unless an operator shows it: its caption is the status of
// the model's connection, txtRecv and txtSend log the exchange and txtLog what happened to
// the connection. It only shows what it is told.
class frmZelph : public QWidget {
    Q_OBJECT
public:
    explicit frmZelph(QWidget *parent = nullptr);

    // "CONNECTED", with empty logs of the exchange, or "NOT CONNECTED".
    void showConnected(bool connected);
    void appendReceived(const QString &text);
    void appendSent(const QString &text);
    void appendToCaption(const QString &text);
    // A line in the connection's own log.
    void appendNote(const QString &text);

    QString receivedLog() const;
    QString sentLog() const;

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // A log box and what was appended to it while the window was hidden: laid out only when
    // an operator shows the window, and the latest part only.
    struct Log {
        QPlainTextEdit *view = nullptr;
        QStringList pending;
        qsizetype pendingChars = 0;
    };
    void appendLog(Log &log, const QString &text);
    void clearLog(Log &log);
    static QString pendingText(const Log &log);

    Log m_recv;
    Log m_send;
    Log m_note;
    QLabel *m_lblWait = nullptr;
};
