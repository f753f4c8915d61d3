#include "gui/Tasks1.h"

#include "core/recording/questionnaire.h"
#include "gui/twips.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

Tasks1::Tasks1(double goal, double below, double above, Dialogs &dialogs, QWidget *parent,
               const QString &unitName)
    : QDialog(parent)
    , m_dialogs(dialogs)
    , m_ratingPlaceholder(tr("Select")) {
    setObjectName(QStringLiteral("Tasks1"));
    setWindowTitle(tr("Department Store Task Questionnaire"));
    setFont(designFont(10));
    setFixedSize(px(9240), px(9240));
    buildControls();

    findChild<QLabel *>(QStringLiteral("Label2"))
        ->setText(questionnaire::questionOneText(goal, below, above, unitName));
    for (int rating = 1; rating <= 10; ++rating)
        m_Combo1->addItem(QString::number(rating));
    m_Combo1->setCurrentIndex(-1);
    m_Combo1->setEditText(m_ratingPlaceholder);

    connect(m_Combo1, &QComboBox::editTextChanged, this, &Tasks1::ratingChanged);
    connect(m_Combo1, &QComboBox::activated, this, &Tasks1::ratingChanged);
    connect(m_Command1, &QPushButton::clicked, this, &Tasks1::Command1_Click);
    m_Combo1->installEventFilter(this);
}

// The prompt is replaced by the rating the person types, never typed after ("Select7").
bool Tasks1::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::FocusIn && watched == m_Combo1 &&
        m_Combo1->currentText() == m_ratingPlaceholder)
        QTimer::singleShot(0, m_Combo1->lineEdit(), &QLineEdit::selectAll);
    return QDialog::eventFilter(watched, event);
}

QLabel *Tasks1::addLabel(const char *name, const QString &caption, const QRect &rect, bool bold) {
    auto *label = new QLabel(caption, this);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(rect);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    if (bold) {
        QFont font = label->font();
        font.setBold(true);
        label->setFont(font);
    }
    return label;
}

QPlainTextEdit *Tasks1::addAnswerBox(const char *name, const QRect &rect) {
    auto *box = new QPlainTextEdit(this);
    box->setObjectName(QLatin1String(name));
    box->setGeometry(rect);
    box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    box->setTabChangesFocus(true);
    return box;
}

void Tasks1::buildControls() {
    constexpr int left = 240;
    constexpr int width = 8760;
    addLabel("Label1", tr("Question 1"), twipsRect(left, 180, 2400, 300), true);
    addLabel("Label2", QString(), twipsRect(left, 480, width, 900));
    addLabel("Label4", tr("Difficulty Rating"), twipsRect(left, 1440, 1920, 405))
        ->setAlignment(Qt::AlignLeft | Qt::AlignVCenter); // level with the rating box
    m_Combo1 = new QComboBox(this);
    m_Combo1->setObjectName(QStringLiteral("Combo1"));
    m_Combo1->setEditable(true);
    m_Combo1->setInsertPolicy(QComboBox::NoInsert);
    m_Combo1->setCompleter(nullptr);
    m_Combo1->setGeometry(twipsRect(2280, 1440, 1335, 405));
    addLabel("Label3", tr("Resons for your rating (Write in space below):"),
             twipsRect(left, 2040, width, 300));
    m_Text1 = addAnswerBox("Text1", twipsRect(left, 2340, width, 1080));

    addLabel("Label6", tr("Question 2"), twipsRect(left, 3660, 2400, 300), true);
    addLabel("Label5", questionnaire::questionTwoText(), twipsRect(left, 3960, width, 660));
    m_Text2 = addAnswerBox("Text2", twipsRect(left, 4680, width, 1080));

    addLabel("Label7", tr("Question 3"), twipsRect(left, 6000, 2400, 300), true);
    addLabel("Label8", questionnaire::questionThreeText(), twipsRect(left, 6300, width, 660));
    m_Text3 = addAnswerBox("Text3", twipsRect(left, 7020, width, 1080));

    m_Command1 = new QPushButton(tr("Submit"), this);
    m_Command1->setObjectName(QStringLiteral("Command1"));
    m_Command1->setAutoDefault(false);
    m_Command1->setGeometry(twipsRect(3840, 8400, 1575, 495));
}

// A rating given, typed or chosen, sends the participant on to its reasons; a two-digit
// rating is therefore chosen from the list rather than typed.
void Tasks1::ratingChanged() {
    if (m_Combo1->currentText() == m_ratingPlaceholder)
        return;
    m_Text1->setEnabled(true);
    m_Text1->setFocus();
}

bool Tasks1::answersComplete() {
    QString missing;
    if (m_Combo1->currentText() == m_ratingPlaceholder)
        missing = tr("Please give rating in Question 1");
    else if (m_Text2->toPlainText().isEmpty())
        missing = tr("Please answer Question 2");
    else if (m_Text3->toPlainText().isEmpty())
        missing = tr("Please answer Question 3");
    if (missing.isEmpty())
        return true;
    m_dialogs.inform(tr("Questionnaire"), missing);
    return false;
}

void Tasks1::Command1_Click() {
    if (!answersComplete())
        return;
    for (int index = 0; index < 3; ++index)
        recordAnswersForQuestions(index);
    m_submitted = true;
    accept();
}

void Tasks1::recordAnswersForQuestions(int index) {
    QString answer;
    switch (index) {
    case 0:
        answer = questionnaire::ratingAnswer(m_Combo1->currentText(), m_Text1->toPlainText());
        break;
    case 1:
        answer = m_Text2->toPlainText();
        break;
    case 2:
        answer = m_Text3->toPlainText();
        break;
    default:
        return;
    }
    emit answerGiven(index + 1, answer);
}

void Tasks1::keyPressEvent(QKeyEvent *event) {
    // Neither Escape nor Enter closes the questionnaire: only Submit and the close box do.
    if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return ||
        event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
