#include "gui/frmZelph.h"

#include <QEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <QVBoxLayout>

namespace {

// The logs keep the latest lines only: a model may play thousands of runs on one connection.
constexpr int logLines = 2000;
constexpr qsizetype hiddenLogChars = 128 * 1024;

QPlainTextEdit *makeLog(const char *name, QWidget *parent) {
    auto *log = new QPlainTextEdit(parent);
    log->setObjectName(QLatin1String(name));
    log->setReadOnly(true);
    log->setMaximumBlockCount(logLines);
    return log;
}

} // namespace

frmZelph::frmZelph(QWidget *parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("frmZelph"));
    setWindowTitle(QStringLiteral("NOT CONNECTED"));
    auto *layout = new QVBoxLayout(this);
    m_lblWait = new QLabel(QStringLiteral("Waiting for Client Tone Input"), this);
    m_lblWait->setObjectName(QStringLiteral("lblWait"));
    m_lblWait->installEventFilter(this); // a click on it hides the window
    auto *sent = new QLabel(QStringLiteral("Sent"), this);
    sent->setObjectName(QStringLiteral("lblSent"));
    auto *received = new QLabel(QStringLiteral("Received"), this);
    received->setObjectName(QStringLiteral("lblReceived"));
    m_send.view = makeLog("txtSend", this);
    m_recv.view = makeLog("txtRecv", this);
    m_note.view = makeLog("txtLog", this);
    layout->addWidget(m_lblWait);
    layout->addWidget(sent);
    layout->addWidget(m_send.view);
    layout->addWidget(received);
    layout->addWidget(m_recv.view);
    layout->addWidget(m_note.view);
}

void frmZelph::showConnected(bool connected) {
    setWindowTitle(connected ? QStringLiteral("CONNECTED") : QStringLiteral("NOT CONNECTED"));
    if (connected) {
        clearLog(m_recv);
        clearLog(m_send);
    }
}

void frmZelph::appendReceived(const QString &text) {
    appendLog(m_recv, text);
}

void frmZelph::appendSent(const QString &text) {
    appendLog(m_send, text);
}

void frmZelph::appendNote(const QString &text) {
    appendLog(m_note, text + QStringLiteral("\r\n"));
}

void frmZelph::appendToCaption(const QString &text) {
    // Every accepted decision repeats the model's name; the hidden caption shows it once.
    if (!windowTitle().endsWith(text))
        setWindowTitle(windowTitle() + text);
}

void frmZelph::appendLog(Log &log, const QString &text) {
    if (isVisible()) {
        QTextCursor cursor(log.view->document());
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(text);
        return;
    }
    log.pending.append(text);
    log.pendingChars += text.size();
    while (log.pendingChars > hiddenLogChars && log.pending.size() > 1)
        log.pendingChars -= log.pending.takeFirst().size();
}

void frmZelph::clearLog(Log &log) {
    log.view->clear();
    log.pending.clear();
    log.pendingChars = 0;
}

QString frmZelph::pendingText(const Log &log) {
    return log.pending.join(QString());
}

void frmZelph::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    for (Log *log : {&m_recv, &m_send, &m_note}) {
        const QString pending = pendingText(*log);
        log->pending.clear();
        log->pendingChars = 0;
        appendLog(*log, pending);
    }
}

bool frmZelph::eventFilter(QObject *watched, QEvent *event) {
    if (watched == m_lblWait && event->type() == QEvent::MouseButtonRelease)
        hide();
    return QWidget::eventFilter(watched, event);
}

QString frmZelph::receivedLog() const {
    return m_recv.view->toPlainText() + pendingText(m_recv);
}

QString frmZelph::sentLog() const {
    return m_send.view->toPlainText() + pendingText(m_send);
}
