#include "gui/StudyQuestionnaire.h"

#include "core/common/numbers.h"
#include "gui/twips.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

using Kind = StudyQuestion::Kind;

QLabel *wrappedLabel(const QString &text, QWidget *parent, bool wrapped = true) {
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(wrapped);
    return label;
}

QString questionCaption(int number) {
    return StudyQuestionnaire::tr("Question %1").arg(number);
}

// A number as a person types it, with a decimal point or comma.
std::optional<double> typedNumber(QString text) {
    text = text.trimmed().replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double value = QLocale::c().toDouble(text, &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

StudyAnswer unanswered(const StudyQuestion &question) {
    StudyAnswer answer;
    answer.questionId = question.id;
    answer.questionText = question.text;
    return answer;
}

const char *const touched = "touched"; // a slider the person has moved or pressed

} // namespace

StudyQuestionnaire::StudyQuestionnaire(const QList<StudyQuestion> &questions, Dialogs &dialogs,
                                       QWidget *parent)
    : StudyQuestionnaire(questions, QuestionnairePage{}, dialogs, parent) {}

StudyQuestionnaire::StudyQuestionnaire(const QList<StudyQuestion> &questions,
                                       const QuestionnairePage &page, Dialogs &dialogs,
                                       QWidget *parent)
    : QDialog(parent)
    , m_dialogs(dialogs)
    , m_page(page) {
    setObjectName(QStringLiteral("StudyQuestionnaire"));
    setWindowTitle(page.title.isEmpty() ? tr("Questionnaire") : page.title);
    setFont(designFont(11));
    build(questions);
    fitToScreen();
    connect(this, &QDialog::finished, this, [this] { m_closed = true; });
}

void StudyQuestionnaire::build(const QList<StudyQuestion> &questions) {
    auto *page = new QWidget;
    auto *list = new QVBoxLayout(page);
    if (!m_page.intro.isEmpty()) {
        QLabel *intro = wrappedLabel(m_page.intro, page);
        intro->setObjectName(QStringLiteral("Intro"));
        list->addWidget(intro);
        list->addSpacing(px(180));
    }
    for (const StudyQuestion &question : questions) {
        m_asked.append(Asked{});
        m_asked.last().question = question;
        Asked &asked = m_asked.last();
        asked.caption = wrappedLabel(questionCaption(static_cast<int>(m_asked.size())), page);
        asked.caption->setObjectName(QStringLiteral("caption:") + question.id);
        QFont bold = asked.caption->font();
        bold.setBold(true);
        asked.caption->setFont(bold);
        list->addWidget(asked.caption);
        list->addWidget(wrappedLabel(question.text, page));
        list->addWidget(controlFor(asked, page));
        list->addSpacing(px(180));
    }
    list->addStretch();
    auto *scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("Questions"));
    scroll->setWidgetResizable(true);
    scroll->setWidget(page);

    m_verdict = wrappedLabel(QString(), this);
    m_verdict->setObjectName(QStringLiteral("Verdict"));
    m_verdict->setStyleSheet(QStringLiteral("color: rgb(192, 0, 0); font-weight: bold"));
    m_verdict->hide();
    auto *submitButton = new QPushButton(tr("Submit"), this);
    submitButton->setObjectName(QStringLiteral("Submit"));
    submitButton->setAutoDefault(false);
    connect(submitButton, &QPushButton::clicked, this, &StudyQuestionnaire::submit);
    auto *window = new QVBoxLayout(this);
    window->addWidget(scroll);
    window->addWidget(m_verdict);
    window->addWidget(submitButton, 0, Qt::AlignHCenter);
}

// A good part of the screen, whatever the scale: three or four questions need no scrolling.
void StudyQuestionnaire::fitToScreen() {
    const QScreen *screen = QGuiApplication::primaryScreen();
    const QSize least(px(9240), px(6000));
    if (!screen) {
        resize(least);
        return;
    }
    const QRect room = screen->availableGeometry();
    const int width = std::max(std::min(room.width(), least.width()),
                               std::min(int(room.width() * 0.6), px(18000)));
    const int height = std::max(std::min(room.height(), least.height()), int(room.height() * 0.85));
    resize(width, height);
    move(room.center() - QPoint(width / 2, height / 2));
}

QWidget *StudyQuestionnaire::controlFor(Asked &asked, QWidget *parent) {
    QWidget *control = nullptr;
    switch (asked.question.kind) {
    case Kind::Rating:
        control = ratingControl(asked, parent);
        break;
    case Kind::Choice:
        control = choiceControl(asked, parent);
        break;
    case Kind::Number:
        control = numberControl(asked, parent);
        break;
    case Kind::Slider:
        control = sliderControl(asked, parent);
        break;
    case Kind::Multiple:
        control = multipleControl(asked, parent);
        break;
    case Kind::Text:
        asked.box = new QPlainTextEdit(parent);
        asked.box->setTabChangesFocus(true);
        asked.box->setFixedHeight(px(1440)); // five lines: room for the rest at any scale
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

QWidget *StudyQuestionnaire::numberControl(Asked &asked, QWidget *parent) {
    auto *row = new QWidget(parent);
    auto *layout = new QHBoxLayout(row);
    asked.field = new QLineEdit(row);
    asked.field->setMaximumWidth(px(2400));
    layout->addWidget(asked.field);
    layout->addWidget(wrappedLabel(tr("(%1 to %2)")
                                       .arg(numbers::general(asked.question.minimum),
                                            numbers::general(asked.question.maximum)),
                                   row, false));
    layout->addStretch();
    return row;
}

QWidget *StudyQuestionnaire::sliderControl(Asked &asked, QWidget *parent) {
    auto *row = new QWidget(parent);
    auto *layout = new QHBoxLayout(row);
    asked.slider = new QSlider(Qt::Horizontal, row);
    QSlider *slider = asked.slider;
    slider->setRange(asked.question.from, asked.question.to);
    slider->setValue(asked.question.from + (asked.question.to - asked.question.from) / 2);
    slider->setTickPosition(QSlider::TicksBelow);
    slider->setMinimumWidth(px(3600));
    QLabel *value = wrappedLabel(QString(), row, false);
    value->setMinimumWidth(px(600));
    const auto touch = [slider, value] {
        slider->setProperty(touched, true);
        value->setText(QString::number(slider->value()));
    };
    connect(slider, &QSlider::valueChanged, row, touch);
    connect(slider, &QSlider::sliderPressed, row, touch);
    layout->addWidget(wrappedLabel(asked.question.lowLabel, row, false));
    layout->addWidget(slider, 1);
    layout->addWidget(wrappedLabel(asked.question.highLabel, row, false));
    layout->addWidget(value);
    return row;
}

QWidget *StudyQuestionnaire::multipleControl(Asked &asked, QWidget *parent) {
    auto *column = new QWidget(parent);
    auto *layout = new QVBoxLayout(column);
    for (const QString &option : asked.question.options) {
        asked.ticks.append(new QCheckBox(option, column));
        layout->addWidget(asked.ticks.constLast());
    }
    return column;
}

std::optional<StudyAnswer> StudyQuestionnaire::answerOf(const Asked &asked) const {
    StudyAnswer answer = unanswered(asked.question);
    if (asked.box) {
        answer.answer = asked.box->toPlainText();
        if (answer.answer.trimmed().isEmpty())
            return std::nullopt;
        return answer;
    }
    if (asked.slider) {
        if (!asked.slider->property(touched).toBool())
            return std::nullopt;
        answer.number = asked.slider->value();
        answer.answer = QString::number(asked.slider->value());
        return answer;
    }
    if (!asked.ticks.isEmpty()) {
        QStringList chosen;
        for (int index = 0; index < asked.ticks.size(); ++index) {
            if (asked.ticks.at(index)->isChecked()) {
                chosen.append(asked.question.options.at(index));
                answer.options.append(index + 1);
            }
        }
        if (chosen.isEmpty())
            return std::nullopt;
        answer.answer = chosen.join(QStringLiteral("; "));
        return answer;
    }
    if (asked.buttons->checkedButton() == nullptr)
        return std::nullopt; // a rating's point may be -1, the id of no button
    const int chosen = asked.buttons->checkedId();
    if (asked.question.kind == Kind::Rating) {
        answer.answer = QString::number(chosen);
        answer.number = chosen;
    } else {
        answer.answer = asked.question.options.at(chosen);
        answer.number = chosen + 1;
        answer.options = {chosen + 1};
    }
    return answer;
}

std::optional<StudyAnswer> StudyQuestionnaire::numberAnswerOf(const Asked &asked,
                                                              int questionNumber) {
    const QString typed = asked.field->text();
    if (typed.trimmed().isEmpty()) {
        m_dialogs.inform(tr("Questionnaire"), tr("Please answer Question %1").arg(questionNumber));
        return std::nullopt;
    }
    const std::optional<double> value = typedNumber(typed);
    if (!value || *value < asked.question.minimum || *value > asked.question.maximum) {
        m_dialogs.inform(tr("Questionnaire"),
                         tr("Please give a number from %1 to %2 in Question %3")
                             .arg(numbers::general(asked.question.minimum),
                                  numbers::general(asked.question.maximum))
                             .arg(questionNumber));
        return std::nullopt;
    }
    StudyAnswer answer = unanswered(asked.question);
    answer.answer = numbers::general(*value);
    answer.number = *value;
    return answer;
}

std::optional<QList<StudyAnswer>> StudyQuestionnaire::collectAnswers() {
    QList<StudyAnswer> answers;
    for (int index = 0; index < m_asked.size(); ++index) {
        const Asked &asked = m_asked.at(index);
        if (asked.field) {
            const std::optional<StudyAnswer> answer = numberAnswerOf(asked, index + 1);
            if (!answer)
                return std::nullopt;
            answers.append(*answer);
            continue;
        }
        const std::optional<StudyAnswer> answer = answerOf(asked);
        if (!answer) {
            m_dialogs.inform(tr("Questionnaire"), tr("Please answer Question %1").arg(index + 1));
            return std::nullopt;
        }
        answers.append(*answer);
    }
    return answers;
}

void StudyQuestionnaire::submit() {
    std::optional<QList<StudyAnswer>> answers = collectAnswers();
    if (!answers)
        return;
    if (m_page.check) {
        judge(*answers);
        return;
    }
    const QPointer<StudyQuestionnaire> self(this);
    for (const StudyAnswer &answer : *answers) {
        emit answerGiven(answer);
        if (!self)
            return;
    }
    m_submitted = true;
    accept();
}

void StudyQuestionnaire::judge(QList<StudyAnswer> answers) {
    const int attempt = m_page.firstAttempt + m_attempts++;
    for (int index = 0; index < answers.size(); ++index) {
        StudyAnswer &answer = answers[index];
        const StudyQuestion &question = m_asked.at(index).question;
        answer.attempt = attempt;
        if (question.hasRightAnswer())
            answer.correct = IsRightAnswer(question, answer);
    }
    QList<StudyQuestion> questions;
    for (const Asked &asked : std::as_const(m_asked))
        questions.append(asked.question);
    const QStringList wrong = JudgeComprehension(questions, answers);
    const QPointer<StudyQuestionnaire> self(this);
    for (const StudyAnswer &answer : std::as_const(answers)) {
        emit answerGiven(answer);
        if (!self)
            return;
    }
    emit checked(answers, wrong);
    if (!self || m_closed)
        return; // the caller has closed the window
    if (wrong.isEmpty()) {
        m_submitted = true;
        accept();
        return;
    }
    showVerdict(wrong);
}

void StudyQuestionnaire::showVerdict(const QStringList &wrongIds) {
    QStringList named;
    for (int index = 0; index < m_asked.size(); ++index) {
        Asked &asked = m_asked[index];
        const bool wrong = wrongIds.contains(asked.question.id);
        const QString caption = questionCaption(index + 1);
        asked.caption->setText(wrong ? tr("%1: not right, please look again").arg(caption)
                                     : caption);
        asked.caption->setStyleSheet(wrong ? QStringLiteral("color: rgb(192, 0, 0)") : QString());
        if (wrong)
            named.append(caption);
    }
    m_verdict->setText(tr("Not all answers are right. Please look again at %1, then Submit.")
                           .arg(named.join(QStringLiteral(", "))));
    m_verdict->show();
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
