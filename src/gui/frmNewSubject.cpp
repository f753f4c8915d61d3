#include "gui/frmNewSubject.h"

#include "core/common/language.h"
#include "gui/twips.h"

#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>

#include <algorithm>

namespace {

QPushButton *addButton(QWidget *parent, const char *name, const QString &caption,
                       const QRect &rect) {
    auto *button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(rect);
    button->setAutoDefault(false); // Enter presses Begin only from the age box
    return button;
}

bool isDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

} // namespace

frmNewSubject::frmNewSubject(const QString &subjectName, const QStringList &genderOptions,
                             QWidget *parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("frmNewSubject"));
    QFont arial;
    arial.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
    arial.setPointSize(10);
    setFont(arial);
    setFixedSize(px(5040), px(3480));
    buildControls();

    addMajors();
    m_cboMajor->setCurrentIndex(-1);
    m_cboMajor->setEditText(tr("Major"));
    setWindowTitle(tr("Subject Info: %1").arg(subjectName));

    // Connected only now, so that the placeholder text does not count as a choice.
    connect(m_txtAge, &QLineEdit::textChanged, this, [this](const QString &text) {
        m_ageGiven = !text.trimmed().isEmpty();
        UpdateBeginButton();
    });
    for (QRadioButton *option : {m_optMale, m_optFemale}) {
        connect(option, &QRadioButton::toggled, this, [this](bool checked) {
            if (checked)
                m_genderGiven = true; // an option stays chosen once chosen
            UpdateBeginButton();
        });
    }
    const auto majorChanged = [this] {
        m_majorGiven = !m_cboMajor->currentText().trimmed().isEmpty();
        UpdateBeginButton();
    };
    connect(m_cboMajor, &QComboBox::editTextChanged, this, majorChanged);
    connect(m_cboMajor, &QComboBox::activated, this, majorChanged);
    connect(m_btnBegin, &QPushButton::clicked, this, &frmNewSubject::btnBegin_Click);
    connect(m_btnCancel, &QPushButton::clicked, this, &frmNewSubject::btnCancel_Click);

    if (!genderOptions.isEmpty())
        offerGenderOptions(genderOptions);

    m_ageGiven = m_genderGiven = m_majorGiven = false;
    Cleared = false;
    UpdateBeginButton();
}

namespace {

// The list of majors in English, as the subject record keeps them.
const char *const majorNames[] = {
    QT_TRANSLATE_NOOP("frmNewSubject", "Accounting"),
    QT_TRANSLATE_NOOP("frmNewSubject", "Anthropology"),
    QT_TRANSLATE_NOOP("frmNewSubject", "Architecture"),
    QT_TRANSLATE_NOOP("frmNewSubject", "Biology"),
    QT_TRANSLATE_NOOP("frmNewSubject", "Business Administration"),
    QT_TRANSLATE_NOOP("frmNewSubject", "Chemistry"),
    QT_TRANSLATE_NOOP("frmNewSubject", "Computer Science"),
    QT_TRANSLATE_NOOP("frmNewSubject", "Economics"),
    QT_TRANSLATE_NOOP("frmNewSubject", "Education"),
    QT_TRANSLATE_NOOP("frmNewSubject", "Electrical Engineering"),
    QT_TRANSLATE_NOOP("frmNewSubject", "English"),
    QT_TRANSLATE_NOOP("frmNewSubject", "Finance"),
    QT_TRANSLATE_NOOP("frmNewSubject", "History"),
    QT_TRANSLATE_NOOP("frmNewSubject", "Industrial Engineering"),
    QT_TRANSLATE_NOOP("frmNewSubject", "Information Systems"),
    QT_TRANSLATE_NOOP("frmNewSubject", "Management"),
    QT_TRANSLATE_NOOP("frmNewSubject", "Marketing"),
    QT_TRANSLATE_NOOP("frmNewSubject", "Mathematics"),
    QT_TRANSLATE_NOOP("frmNewSubject", "Mechanical Engineering"),
    QT_TRANSLATE_NOOP("frmNewSubject", "Philosophy"),
    QT_TRANSLATE_NOOP("frmNewSubject", "Physics"),
    QT_TRANSLATE_NOOP("frmNewSubject", "Political Science"),
    QT_TRANSLATE_NOOP("frmNewSubject", "Psychology"),
    QT_TRANSLATE_NOOP("frmNewSubject", "Public Policy"),
    QT_TRANSLATE_NOOP("frmNewSubject", "Sociology"),
    QT_TRANSLATE_NOOP("frmNewSubject", "Statistics"),
    QT_TRANSLATE_NOOP("frmNewSubject", "Other"),
};

} // namespace

QStringList frmNewSubject::majors() {
    QStringList names;
    for (const char *name : majorNames)
        names.append(QLatin1String(name));
    return names;
}

// Each major shows in the participant's language and keeps its English name beside it. A
// translated list is put in its own alphabetical order, "Other" staying last.
void frmNewSubject::addMajors() {
    QList<std::pair<QString, QString>> shown;
    for (const char *name : majorNames)
        shown.append({tr(name), QLatin1String(name)});
    if (InstalledLanguage() != QLatin1String("en"))
        std::sort(shown.begin(), shown.end() - 1, [](const auto &a, const auto &b) {
            return QString::localeAwareCompare(a.first, b.first) < 0;
        });
    for (const auto &[text, source] : shown)
        m_cboMajor->addItem(text, source);
}

// A major chosen from the list is kept in English whatever the language shown; a typed one
// as typed.
QString frmNewSubject::majorToRecord() const {
    const int index = m_cboMajor->findText(m_cboMajor->currentText(), Qt::MatchExactly);
    return index >= 0 ? m_cboMajor->itemData(index).toString() : m_cboMajor->currentText();
}

void frmNewSubject::buildControls() {
    auto *fraGender = new QGroupBox(tr("Gender"), this);
    fraGender->setObjectName(QStringLiteral("fraGender"));
    fraGender->setGeometry(twipsRect(240, 180, 2160, 1260));
    m_optMale = new QRadioButton(tr("Male"), fraGender);
    m_optMale->setObjectName(QStringLiteral("optMale"));
    m_optMale->setGeometry(twipsRect(240, 360, 1695, 360));
    m_optFemale = new QRadioButton(tr("Female"), fraGender);
    m_optFemale->setObjectName(QStringLiteral("optFemale"));
    m_optFemale->setGeometry(twipsRect(240, 780, 1695, 360));

    auto *tagAge = new QLabel(tr("Age:"), this);
    tagAge->setObjectName(QStringLiteral("tagAge"));
    tagAge->setGeometry(twipsRect(2760, 480, 720, 360));
    tagAge->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_txtAge = new QLineEdit(this);
    m_txtAge->setObjectName(QStringLiteral("txtAge"));
    m_txtAge->setGeometry(twipsRect(3600, 450, 720, 405));
    m_txtAge->setMaxLength(2);
    // The key rules below admit 1 to 99 as typed; this keeps a leading zero out however the
    // cursor was placed ("0" alone may stay, as deleting the first digit of "50" leaves it).
    m_txtAge->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[1-9][0-9]?|0?")), m_txtAge));
    m_txtAge->setContextMenuPolicy(Qt::NoContextMenu); // no pasting past the key rules
    m_txtAge->setAcceptDrops(false);
    m_txtAge->installEventFilter(this);

    m_cboMajor = new QComboBox(this);
    m_cboMajor->setObjectName(QStringLiteral("cboMajor"));
    m_cboMajor->setEditable(true);
    m_cboMajor->setInsertPolicy(QComboBox::NoInsert); // a typed major is kept as typed
    m_cboMajor->setCompleter(nullptr);
    m_cboMajor->setMaxVisibleItems(14);
    m_cboMajor->setGeometry(twipsRect(240, 1680, 4560, 405));

    m_btnBegin = addButton(this, "btnBegin", tr("Begin"), twipsRect(600, 2520, 1575, 495));
    m_btnCancel = addButton(this, "btnCancel", tr("Cancel"), twipsRect(2865, 2520, 1575, 495));
}

void frmNewSubject::offerGenderOptions(const QStringList &options) {
    for (QRadioButton *option : {m_optMale, m_optFemale}) {
        option->hide();
        option->setEnabled(false);
    }
    m_cboGender = new QComboBox(m_optMale->parentWidget());
    m_cboGender->setObjectName(QStringLiteral("cboGender"));
    m_cboGender->addItems(options);
    m_cboGender->setCurrentIndex(-1);
    m_cboGender->setGeometry(twipsRect(120, 480, 1920, 405));
    connect(m_cboGender, &QComboBox::currentIndexChanged, this, [this](int index) {
        m_genderGiven = index >= 0;
        UpdateBeginButton();
    });
}

void frmNewSubject::UpdateBeginButton() {
    m_btnBegin->setEnabled(m_ageGiven && m_genderGiven && m_majorGiven);
}

void frmNewSubject::btnBegin_Click() {
    if (!m_btnBegin->isEnabled())
        return;
    const QString gender = m_cboGender              ? m_cboGender->currentText()
                           : m_optMale->isChecked() ? QStringLiteral("Male")
                                                    : QStringLiteral("Female");
    std::optional<int> number;
    if (m_cboGender)
        number = m_cboGender->currentIndex() + 1;
    emit begun({majorToRecord(), gender, m_txtAge->text(), number});
    Cleared = true;
    accept();
}

void frmNewSubject::btnCancel_Click() {
    reject();
}

bool frmNewSubject::eventFilter(QObject *watched, QEvent *event) {
    if (watched == m_txtAge && event->type() == QEvent::KeyPress)
        return filterAgeKey(static_cast<QKeyEvent *>(event));
    return QDialog::eventFilter(watched, event);
}

// Returns true to drop the key. Digits are typed one by one, never a leading zero; a box
// holding just "0" gives way to the next digit.
bool frmNewSubject::filterAgeKey(const QKeyEvent *key) {
    if (key->matches(QKeySequence::Paste))
        return true;
    switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (m_btnBegin->isEnabled())
            btnBegin_Click();
        return true;
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Escape:
        return false;
    default:
        break;
    }
    const QString typed = key->text();
    if (typed.isEmpty())
        return false; // cursor movement types nothing
    if (typed.size() != 1 || !isDigit(typed.at(0)))
        return true;
    if (typed.at(0) == QLatin1Char('0') && m_txtAge->text().isEmpty())
        return true;
    if (m_txtAge->text() == QLatin1String("0"))
        m_txtAge->clear();
    return false;
}

void frmNewSubject::keyPressEvent(QKeyEvent *event) {
    // The form has no default button: Enter elsewhere than in the age box presses nothing.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
