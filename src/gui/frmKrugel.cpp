#include "gui/frmKrugel.h"

#include "core/common/numbers.h"
#include "core/engine/tankgeometry.h"
#include "gui/twips.h"
#include "gui/windowscale.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

#include <algorithm>
#include <cmath>

namespace {

const QColor red(255, 0, 0);
const QColor green(0, 192, 0);
const QColor blue(0, 0, 255);
const QColor yellow(255, 255, 0);

QColor toColor(Colour colour) {
    switch (colour) {
    case Colour::Red:
        return red;
    case Colour::Green:
        return green;
    case Colour::Blue:
        return blue;
    case Colour::Black:
        break;
    }
    return Qt::black;
}

// The user's own flows are lit in the setup's highlight colours: their red is the first, their
// green the second.
QColor toUserColor(Colour colour, const HighlightColours &highlights) {
    switch (colour) {
    case Colour::Red:
        return QColor::fromRgb(highlights.inflow);
    case Colour::Green:
        return QColor::fromRgb(highlights.outflow);
    case Colour::Blue:
    case Colour::Black:
        break;
    }
    return toColor(colour);
}

void setTextColour(QWidget *widget, const QColor &colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    widget->setPalette(palette);
}

void setBackground(QWidget *widget, const QColor &colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

// Black or white, whichever contrasts more with the background (by relative luminance): the
// default red and green keep black figures, a dark highlight such as blue gets white ones.
QColor figureColourOn(const QColor &background) {
    const auto linear = [](double channel) {
        return channel <= 0.03928 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    const double luminance = 0.2126 * linear(background.redF()) +
                             0.7152 * linear(background.greenF()) +
                             0.0722 * linear(background.blueF());
    const double againstBlack = (luminance + 0.05) / 0.05;
    const double againstWhite = 1.05 / (luminance + 0.05);
    return againstWhite > againstBlack ? Qt::white : Qt::black;
}

QString indexed(const char *name, int index) {
    return QStringLiteral("%1(%2)").arg(QLatin1String(name)).arg(index);
}

constexpr int ctrlX = 24;

bool isCtrlX(const QKeyEvent *key) {
    return key->text() == QChar(ctrlX) ||
           (key->key() == Qt::Key_X && key->modifiers().testFlag(Qt::ControlModifier));
}
constexpr int backspace = 8;

// Keyboards that write decimals with a comma: the comma types the point, under the point's
// own rules (the box's filter sees it too), and is itself dropped.
bool typePoint(QLineEdit *box, const QKeyEvent *comma) {
    QKeyEvent point(QEvent::KeyPress, Qt::Key_Period, comma->modifiers(), QStringLiteral("."));
    QCoreApplication::sendEvent(box, &point);
    return true;
}

} // namespace

frmKrugel::frmKrugel(const TaskView &view, Dialogs &dialogs, QWidget *parent)
    : QWidget(parent)
    , m_view(view)
    , m_dialogs(dialogs) {
    setObjectName(QStringLiteral("frmKrugel"));
    setWindowTitle(QStringLiteral("Fluxmere"));
    setFixedSize(TaskWindowSize());
    buildTankDrawing();
    buildControls();
    // At some goals the caption lies over the black environment outflow box: it is drawn
    // above the box on the window's own colour, so the whole word stays readable there and
    // looks as before everywhere else.
    auto *goalCaption = findChild<QLabel *>(QStringLiteral("lblGoal"));
    setBackground(goalCaption, palette().color(QPalette::Window));
    goalCaption->raise();

    for (int i = 0; i < static_cast<int>(m_view.markY.size()); ++i) {
        if (auto *mark = findChild<QFrame *>(indexed("markY", i))) {
            mark->setGeometry(px(2520), px(m_view.markY[static_cast<size_t>(i)]), px(360), 1);
            mark->show();
        }
        if (auto *caption = findChild<QLabel *>(indexed("lblMarkY", i))) {
            caption->setGeometry(twipsRect(1920, m_view.lblMarkYTop[static_cast<size_t>(i)], 495,
                                           tank::markLabelHeight));
            caption->setText(m_view.lblMarkYCaption.value(i));
            caption->show();
        }
    }
    findChild<QFrame *>(QStringLiteral("lineGoal"))
        ->setGeometry(px(1800), px(m_view.lineGoalY), px(13440 - 1800), 2);
    findChild<QLabel *>(QStringLiteral("lblGoal"))
        ->setGeometry(twipsRect(13560, m_view.lineGoalY, 495, 255));
    showEntryTexts();
    render();
    if (m_view.practice)
        markPractice();
}

// The program's own unit shows in the participant's language; any other as it is named.
QString frmKrugel::unitCaption() const {
    static const char *const gallons = QT_TR_NOOP("Gallons");
    return m_view.unitName == QLatin1String(gallons) ? tr(gallons) : m_view.unitName;
}

// A practice run says so in the title and above the tank; the run itself looks as ever.
void frmKrugel::markPractice() {
    setWindowTitle(tr("Fluxmere - Practice"));
    QLabel *mark =
        addLabel(QStringLiteral("lblPractice"), tr("Practice"), twipsRect(720, 840, 1695, 375));
    setTextColour(mark, blue);
}

QLabel *frmKrugel::addLabel(const QString &name, const QString &caption, const QRect &rect,
                            double pointSize) {
    auto *label = new QLabel(caption, this);
    label->setObjectName(name);
    label->setGeometry(rect);
    label->setFont(designFont(pointSize, true));
    return label;
}

QFrame *frmKrugel::addBox(const QString &name, const QRect &rect, const QColor &colour) {
    auto *box = new QFrame(this);
    box->setObjectName(name);
    box->setGeometry(rect);
    setBackground(box, colour);
    return box;
}

void frmKrugel::buildTankDrawing() {
    addBox(QStringLiteral("TankFill"), twipsRect(2880, 2760, 9360, 3615), blue);
    auto *outline = new QFrame(this);
    outline->setObjectName(QStringLiteral("Tank"));
    outline->setGeometry(twipsRect(tank::left, tank::top, tank::width, tank::height));
    outline->setFrameShape(QFrame::Box);
    outline->setAttribute(Qt::WA_TransparentForMouseEvents);

    // Pipe walls, two lines a pipe: user inflow, user outflow, env inflow, env outflow.
    const QRect walls[] = {
        {px(3120), px(1920), 1, px(840)},   {px(3000), px(1920), 1, px(840)},
        {px(12240), px(6240), px(1080), 1}, {px(12240), px(6120), px(1080), 1},
        {px(4560), px(1920), 1, px(840)},   {px(4680), px(1920), 1, px(840)},
        {px(12240), px(5760), px(1080), 1}, {px(12240), px(5640), px(1080), 1},
    };
    for (int i = 0; i < 8; ++i)
        addBox(indexed("PipeBorder", i), walls[i], Qt::black);
    const QRect water[] = {twipsRect(3000, 1920, 150, 900), twipsRect(12240, 6120, 1110, 180),
                           twipsRect(4560, 1920, 135, 900), twipsRect(12240, 5640, 1110, 180)};
    for (int i = 0; i < 4; ++i)
        addBox(indexed("Water0", i), water[i], blue);

    for (int i = 0; i < static_cast<int>(m_view.markY.size()); ++i) {
        addBox(indexed("markY", i), QRect(), Qt::black)->hide();
        addLabel(indexed("lblMarkY", i), QString(), QRect(), 8.25)->hide();
    }
    addBox(QStringLiteral("lineGoal"), QRect(), red);
    addLabel(QStringLiteral("lblGoal"), tr("Goal"), QRect(), 8.25);

    addLabel(indexed("lblUser", 0), tr("User Inflow"), twipsRect(2520, 1560, 975, 255), 8.25);
    addLabel(indexed("lblEnvironment", 0), tr("Environment Inflow"),
             twipsRect(3720, 1560, 1695, 255), 8.25);
    addLabel(indexed("lblUser", 1), tr("User Outflow"), twipsRect(13440, 6120, 1335, 255), 8.25);
    addLabel(indexed("lblEnvironment", 1), tr("Environment Outflow"),
             twipsRect(13440, 5640, 1815, 255), 8.25);

    // The flow value boxes: idle black, lit red or green while their flow acts.
    const std::pair<const char *, QRect> boxes[] = {
        {"lblUsrInCon", twipsRect(1560, 1920, 1215, 615)},
        {"lblEnvInCon", twipsRect(4800, 1920, 1215, 615)},
        {"lblEnvOutCon", twipsRect(12480, 4920, 1215, 615)},
        {"lblUsrOutCon", twipsRect(12480, 6360, 1215, 615)},
    };
    for (const auto &[name, rect] : boxes) {
        QLabel *box = addLabel(QLatin1String(name), QString(), rect);
        box->setAlignment(Qt::AlignCenter);
        setBackground(box, Qt::black);
    }
    // Flow text labels: written by the engine, never shown.
    for (const char *name : {"lblUserInput", "lblUserOutput", "lblEnvInput", "lblEnvOutput"}) {
        for (int i = 0; i < 2; ++i)
            addLabel(indexed(name, i), QString(), QRect())->hide();
    }
}

void frmKrugel::buildControls() {
    buildStatusDisplay();
    buildDecisionInput();
    buildMoneyDisplay();
}

// Period counter, the last flows, goal and amount, and the order balances.
void frmKrugel::buildStatusDisplay() {
    const QString unit = unitCaption();
    const auto caption = [this](const char *name, const QString &text, QRect rect) {
        addLabel(QLatin1String(name), text, rect);
    };
    const auto value = [this](const char *name, QRect rect, const QColor &colour) {
        setTextColour(addLabel(QLatin1String(name), QString(), rect), colour);
    };
    caption("lblTimePeriod", tr("Time Period"), twipsRect(720, 240, 1695, 375));
    caption("lblOf", tr("of"), twipsRect(3840, 240, 495, 375));
    for (const auto &[name, left] :
         {std::pair{"lblCurrTimePeriod", 2640}, {"lblTotTimePeriod", 4440}}) {
        QLabel *counter = addLabel(QLatin1String(name), QString(), twipsRect(left, 240, 1215, 375));
        setTextColour(counter, yellow);
        setBackground(counter, palette().color(QPalette::WindowText));
    }
    for (const char *name : {"lblTimePeriod", "lblCurrTimePeriod", "lblOf", "lblTotTimePeriod"})
        findChild<QLabel *>(QLatin1String(name))->setVisible(m_view.showTimePeriod);

    caption("lblInFlowStatusEnv", tr("Env InFlow(%1/Hour):").arg(unit),
            twipsRect(5760, 360, 3255, 615));
    value("lblInFlowStatusEnvVal", twipsRect(9240, 360, 1335, 615), red);
    caption("lblOutFlowStatusEnv", tr("Env OutFlow(%1/Hour):").arg(unit),
            twipsRect(10680, 360, 3495, 615));
    value("lblOutFlowStatusEnvVal", twipsRect(14400, 360, 1455, 615), green);
    caption("lblInFlowStatus", tr("UserInFlow(%1/Hour):").arg(unit),
            twipsRect(5760, 1200, 3255, 615));
    const HighlightColours &user = m_view.userHighlights;
    value("lblInFlowStatusVal", twipsRect(9240, 1200, 1335, 615), QColor::fromRgb(user.inflow));
    caption("lblOutFlowStatus", tr("UserOutFlow(%1/Hour):").arg(unit),
            twipsRect(10680, 1200, 3495, 615));
    value("lblOutFlowStatusVal", twipsRect(14400, 1200, 1455, 615), QColor::fromRgb(user.outflow));
    caption("lblGoalStatus", tr("Goal(%1):").arg(unit), twipsRect(6240, 2040, 2775, 495));
    value("lblGoalStatusVal", twipsRect(9240, 2040, 1335, 495), red);
    caption("lblAmountStatus", tr("Amount in Tank(%1):").arg(unit),
            twipsRect(10680, 2040, 3495, 495));
    value("lblAmountStatusVal", twipsRect(14400, 2040, 1455, 495), blue);

    caption("lblBackOrder", tr("Back Order (Gallons):"), twipsRect(10920, 8280, 2775, 375));
    value("lblBackOrderVal", twipsRect(13800, 8280, 1335, 375), blue);
    caption("lblForwardOrder", tr("Dch Order (Gallons):"), twipsRect(10920, 9000, 2775, 375));
    value("lblForwardOrderVal", twipsRect(13800, 9000, 1335, 375), blue);
    for (const char *name :
         {"lblBackOrder", "lblBackOrderVal", "lblForwardOrder", "lblForwardOrderVal"})
        findChild<QLabel *>(QLatin1String(name))->setVisible(m_view.showOrderBalances);
    caption("lblUnits", unit, twipsRect(480, 4200, 1215, 375));
}

// The two entry boxes and Submit, the window's default button.
void frmKrugel::buildDecisionInput() {
    const QString unit = unitCaption();
    addLabel(QStringLiteral("lblDecision(0)"), tr("Make Decision->"),
             twipsRect(720, 6960, 2175, 375));
    addLabel(QStringLiteral("lblInFlow(1)"), tr("Enter the Inflow(%1/Hour):").arg(unit),
             twipsRect(3360, 6960, 5175, 375));
    addLabel(QStringLiteral("lblDecision(1)"), tr("Make Decision->"),
             twipsRect(720, 7680, 2175, 375));
    addLabel(QStringLiteral("lblOutflow"), tr("Enter the Outflow(%1/Hour):").arg(unit),
             twipsRect(3360, 7680, 5295, 375));

    const auto entryBox = [this](const char *name, int top) {
        auto *box = new QLineEdit(this);
        box->setObjectName(QLatin1String(name));
        box->setGeometry(twipsRect(8760, top, 975, 420));
        box->setFont(designFont(12, true));
        box->setContextMenuPolicy(Qt::NoContextMenu); // no pasting past the key filter
        box->installEventFilter(this);
        return box;
    };
    m_txtUsrInflowVal = entryBox("txtUsrInflowVal", 6960);
    m_txtUsrOutflowVal = entryBox("txtUsrOutflowVal", 7680);

    m_cmdNextTrial = new QPushButton(tr("Submit"), this);
    m_cmdNextTrial->setObjectName(QStringLiteral("cmdNextTrial"));
    m_cmdNextTrial->setGeometry(twipsRect(10200, 7680, 1455, 495));
    m_cmdNextTrial->setDefault(true);
    m_cmdNextTrial->installEventFilter(this);
    connect(m_cmdNextTrial, &QPushButton::clicked, this, &frmKrugel::cmdNextTrial_Click);
}

// The bonus figures and the status line.
void frmKrugel::buildMoneyDisplay() {
    const auto caption = [this](const char *name, const QString &text, QRect rect) {
        addLabel(QLatin1String(name), text, rect);
    };
    // A symbol longer than the design's "$" gets room for up to six characters.
    const QString &symbol = m_view.currency;
    const int symbolWidth = 255 * static_cast<int>(std::clamp<qsizetype>(symbol.size(), 1, 6));
    caption("lblCurrBonus", tr("Current bonus for the time period is:"),
            twipsRect(3360, 8400, 4695, 375));
    caption("lblCurrBonusVal", QString(), twipsRect(9120, 8400, 975, 375));
    caption("lblDollar(0)", symbol, twipsRect(10320, 8400, symbolWidth, 255));
    caption("lblAccuBonus",
            m_view.practice ? tr("Practice, not paid:") : tr("Total money to be paid at the end:"),
            twipsRect(3360, 8880, 4815, 375));
    caption("lblAccuBonusVal", QString(), twipsRect(9120, 9000, 975, 255));
    caption("lblDollar(1)", symbol, twipsRect(10320, 9000, symbolWidth, 255));
    // The cost figures exist but are never shown.
    addLabel(QStringLiteral("lblCurrCostVal"), QString(), QRect())->hide();
    addLabel(QStringLiteral("lblAccuCostVal"), QString(), QRect())->hide();

    QLabel *status =
        addLabel(QStringLiteral("lblStatusValue"), QString(), twipsRect(3000, 9480, 9495, 735));
    status->setWordWrap(true);
    setTextColour(status, yellow);
    setBackground(status, palette().color(QPalette::ButtonText));
}

void frmKrugel::render() {
    // A hidden window draws nothing; it catches up when it is shown.
    if (!isVisible()) {
        m_renderPending = true;
        return;
    }
    m_renderPending = false;
    const auto text = [this](const char *name, const QString &value) {
        findChild<QLabel *>(QLatin1String(name))->setText(value);
    };
    const auto box = [this](const char *name, const FlowBox &look, bool user) {
        auto *label = findChild<QLabel *>(QLatin1String(name));
        const QColor back =
            user ? toUserColor(look.back, m_view.userHighlights) : toColor(look.back);
        setBackground(label, back);
        if (user)
            setTextColour(label, look.lit() ? figureColourOn(back) : Qt::black);
        label->setText(look.text);
    };
    const auto flowLabels = [this](const char *name, const std::array<FlowLabel, 2> &labels,
                                   bool user) {
        for (int i = 0; i < 2; ++i) {
            auto *label = findChild<QLabel *>(indexed(name, i));
            const Colour colour = labels[static_cast<size_t>(i)].colour;
            label->setText(labels[static_cast<size_t>(i)].caption);
            setTextColour(label,
                          user ? toUserColor(colour, m_view.userHighlights) : toColor(colour));
        }
    };
    for (int i = 0; i < 4; ++i)
        findChild<QFrame *>(indexed("Water0", i))
            ->setVisible(m_view.pipeWater[static_cast<size_t>(i)]);
    box("lblUsrInCon", m_view.lblUsrInCon, true);
    box("lblUsrOutCon", m_view.lblUsrOutCon, true);
    box("lblEnvInCon", m_view.lblEnvInCon, false);
    box("lblEnvOutCon", m_view.lblEnvOutCon, false);
    flowLabels("lblUserInput", m_view.lblUserInput, true);
    flowLabels("lblUserOutput", m_view.lblUserOutput, true);
    flowLabels("lblEnvInput", m_view.lblEnvInput, false);
    flowLabels("lblEnvOutput", m_view.lblEnvOutput, false);
    text("lblStatusValue", m_view.lblStatusValue);
    text("lblCurrTimePeriod", m_view.lblCurrTimePeriod);
    text("lblTotTimePeriod", m_view.lblTotTimePeriod);
    text("lblInFlowStatusEnvVal", m_view.lblInFlowStatusEnvVal);
    text("lblOutFlowStatusEnvVal", m_view.lblOutFlowStatusEnvVal);
    text("lblInFlowStatusVal", m_view.lblInFlowStatusVal);
    text("lblOutFlowStatusVal", m_view.lblOutFlowStatusVal);
    text("lblGoalStatusVal", m_view.lblGoalStatusVal);
    text("lblAmountStatusVal", m_view.lblAmountStatusVal);
    text("lblBackOrderVal", m_view.lblBackOrderVal);
    text("lblForwardOrderVal", m_view.lblForwardOrderVal);
    text("lblCurrBonusVal", m_view.lblCurrBonusVal);
    text("lblAccuBonusVal", m_view.lblAccuBonusVal);
    text("lblCurrCostVal", m_view.lblCurrCostVal);
    text("lblAccuCostVal", m_view.lblAccuCostVal);

    const FillRect &fill = m_view.TankFill;
    auto *tankFill = findChild<QFrame *>(QStringLiteral("TankFill"));
    tankFill->setGeometry(twipsRect(fill.left, fill.top, fill.width, fill.height));
    tankFill->setVisible(fill.visible);

    m_cmdNextTrial->setEnabled(m_view.submitEnabled);
    m_txtUsrInflowVal->setEnabled(m_view.entryEnabled);
    m_txtUsrOutflowVal->setEnabled(m_view.entryEnabled);
}

void frmKrugel::showView(const TaskView &view) {
    const bool entriesSet = view.entryRevision != m_view.entryRevision;
    m_view = view;
    if (entriesSet)
        showEntryTexts();
    render();
    // After a period the participant types the next decision at once, over the "0".
    if (entriesSet && m_view.submitEnabled && isVisible()) {
        m_txtUsrInflowVal->setFocus();
        m_txtUsrInflowVal->selectAll();
    }
}

void frmKrugel::showEntryTexts() {
    m_txtUsrInflowVal->setText(m_view.entryText[0]);
    m_txtUsrOutflowVal->setText(m_view.entryText[1]);
}

void frmKrugel::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    if (m_renderPending)
        render();
}

// ---- Submit and exit ------------------------------------------------------------------

bool frmKrugel::entryIsNumber(QLineEdit *box, const QString &message) {
    if (box->text().isEmpty() || numbers::parseNumber(box->text()))
        return true;
    const QPointer<QLineEdit> entry = box;
    m_dialogs.inform(programTitle(), message, Dialogs::Icon::Warning, [entry] {
        if (entry) {
            entry->setFocus();
            entry->selectAll();
        }
    });
    return false;
}

void frmKrugel::cmdNextTrial_Click() {
    if (!m_cmdNextTrial->isEnabled())
        return; // a period is running
    if (!entryIsNumber(m_txtUsrInflowVal,
                       tr("The inflow must be a number. Please enter it again.")) ||
        !entryIsNumber(m_txtUsrOutflowVal,
                       tr("The outflow must be a number. Please enter it again.")))
        return;
    Decision decision;
    for (QLineEdit *box : {m_txtUsrInflowVal, m_txtUsrOutflowVal}) {
        if (box->text().isEmpty())
            box->setText(QStringLiteral("0"));
    }
    decision.inflow = numbers::parseNumber(m_txtUsrInflowVal->text()).value_or(0.0);
    decision.outflow = numbers::parseNumber(m_txtUsrOutflowVal->text()).value_or(0.0);
    m_cmdNextTrial->setEnabled(false);
    emit submitted(decision);
}

// ---- Input ----------------------------------------------------------------------------

void frmKrugel::keyPressEvent(QKeyEvent *event) {
    // Submit is the window's default button: Enter anywhere presses it.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        m_cmdNextTrial->isEnabled()) {
        m_cmdNextTrial->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool frmKrugel::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    auto *key = static_cast<QKeyEvent *>(event);
    const bool entryBox = watched == m_txtUsrInflowVal || watched == m_txtUsrOutflowVal;
    if ((entryBox || watched == m_cmdNextTrial) && isCtrlX(key)) {
        // Whatever the program answers, the keystroke itself is spent: it types nothing.
        emit leaveAsked(true);
        return true;
    }
    if (entryBox)
        return filterEntryKey(static_cast<QLineEdit *>(watched), key);
    return QWidget::eventFilter(watched, event);
}

// Returns true to drop the key. Only digits, the point and Backspace reach the box; a comma
// reaches it as the point.
bool frmKrugel::filterEntryKey(QLineEdit *box, QKeyEvent *key) {
    // Enter goes on to the window and Tab moves the focus; keys that type nothing pass.
    const bool passes = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter ||
                        key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab ||
                        key->key() == Qt::Key_Delete;
    if (passes || key->text().isEmpty())
        return false;
    const QChar typed = key->text().at(0);
    if (typed.unicode() == backspace)
        return false;
    if (typed == QLatin1Char(',') && key->text().size() == 1)
        return typePoint(box, key);
    const bool digitOrPoint =
        (typed >= QLatin1Char('0') && typed <= QLatin1Char('9')) || typed == QLatin1Char('.');
    if (!digitOrPoint || key->text().size() != 1)
        return true;
    if (box->text().isEmpty() && typed == QLatin1Char('0'))
        return true;
    if (box->text() == QLatin1String("0"))
        box->clear();
    return false;
}

// The close box only asks to leave: the program hides the window once the exit is
// authorised.
void frmKrugel::closeEvent(QCloseEvent *event) {
    event->ignore();
    emit leaveAsked(false);
}
