#include "gui/StudyQuestionnaire.h"

#include "gui/twips.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace {

QLabel *wrappedLabel(const QString &text, QWidget *parent, bool wrapped = true) {
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(wrapped);
    return label;
}

QString questionCaption(int number) {
    return StudyQuestionnaire::tr("Question %1").arg(number);
}

} // namespace

StudyQuestionnaire::StudyQuestionnaire(const QList<StudyQuestion> &questions, Dialogs &dialogs,
                                       QWidget *parent)
    : QDialog(parent)
    , m_dialogs(dialogs) {
    setObjectName(QStringLiteral("StudyQuestionnaire"));
    setWindowTitle(tr("Questionnaire"));
    setFont(designFont(10));
    resize(px(9240), px(9240));

    auto *page = new QWidget;
    auto *list = new QVBoxLayout(page);
    for (const StudyQuestion &question : questions) {
        m_asked.append({question, nullptr, nullptr});
        auto *caption = wrappedLabel(questionCaption(static_cast<int>(m_asked.size())), page);
        QFont bold = caption->font();
        bold.setBold(true);
        caption->setFont(bold);
        list->addWidget(caption);
        list->addWidget(wrappedLabel(question.text, page));
        list->addWidget(controlFor(m_asked.last(), page));
        list->addSpacing(px(180));
    }
    list->addStretch();
    auto *scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setWidget(page);

    auto *submitButton = new QPushButton(tr("Submit"), this);
    submitButton->setObjectName(QStringLiteral("Submit"));
    submitButton->setAutoDefault(false);
    connect(submitButton, &QPushButton::clicked, this, &StudyQuestionnaire::submit);
    auto *window = new QVBoxLayout(this);
    window->addWidget(scroll);
    window->addWidget(submitButton, 0, Qt::AlignHCenter);
}

QWidget *StudyQuestionnaire::controlFor(Asked &asked, QWidget *parent) {
    QWidget *control = nullptr;
    switch (asked.question.kind) {
    case StudyQuestion::Kind::Rating:
        control = ratingControl(asked, parent);
        break;
    case StudyQuestion::Kind::Choice:
        control = choiceControl(asked, parent);
        break;
    case StudyQuestion::Kind::Text:
        asked.box = new QPlainTextEdit(parent);
        asked.box->setTabChangesFocus(true);
        asked.box->setFixedHeight(px(1080));
        control = asked.box;
        break;
    }
    control->setObjectName(asked.question.id);
    return control;
}

QWidget *StudyQuestionnaire::ratingControl(Asked &asked, QWidget *parent) {
    auto *row = new QWidget(parent);
    auto *layout = new QHBoxLayout(row);
    asked.buttons = new QButtonGroup(row);
    layout->addWidget(
        wrappedLabel(asked.question.lowLabel, row, false)); // whole, beside the points
    for (int point = asked.question.from; point <= asked.question.to; ++point) {
        auto *button = new QRadioButton(QString::number(point), row);
        asked.buttons->addButton(button, point);
        layout->addWidget(button);
    }
    layout->addWidget(wrappedLabel(asked.question.highLabel, row, false));
    layout->addStretch();
    return row;
}

QWidget *StudyQuestionnaire::choiceControl(Asked &asked, QWidget *parent) {
    auto *column = new QWidget(parent);
    auto *layout = new QVBoxLayout(column);
    asked.buttons = new QButtonGroup(column);
    for (int index = 0; index < asked.question.options.size(); ++index) {
        auto *button = new QRadioButton(asked.question.options.at(index), column);
        asked.buttons->addButton(button, index);
        layout->addWidget(button);
    }
    return column;
}

std::optional<StudyAnswer> StudyQuestionnaire::answerOf(const Asked &asked) const {
    StudyAnswer answer{asked.question.id, asked.question.text, QString(), std::nullopt};
    if (asked.box) {
        answer.answer = asked.box->toPlainText();
        if (answer.answer.trimmed().isEmpty())
            return std::nullopt;
        return answer;
    }
    if (asked.buttons->checkedButton() == nullptr)
        return std::nullopt; // a rating's point may be -1, the id of no button
    const int chosen = asked.buttons->checkedId();
    if (asked.question.kind == StudyQuestion::Kind::Rating) {
        answer.answer = QString::number(chosen);
        answer.number = chosen;
    } else {
        answer.answer = asked.question.options.at(chosen);
    }
    return answer;
}

void StudyQuestionnaire::submit() {
    QList<StudyAnswer> answers;
    for (int index = 0; index < m_asked.size(); ++index) {
        const std::optional<StudyAnswer> answer = answerOf(m_asked.at(index));
        if (!answer) {
            m_dialogs.inform(tr("Questionnaire"), tr("Please answer Question %1").arg(index + 1));
            return;
        }
        answers.append(*answer);
    }
    for (const StudyAnswer &answer : answers)
        emit answerGiven(answer);
    m_submitted = true;
    accept();
}

void StudyQuestionnaire::keyPressEvent(QKeyEvent *event) {
    // Neither Escape nor Enter closes the questionnaire: only Submit and the close box do.
    if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return ||
        event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
