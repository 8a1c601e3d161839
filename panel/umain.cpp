// SPDX-License-Identifier: GPL-3.0-or-later
#include "panel/umain.h"

#include "levels/LevelHistoryWindow.h"
#include "levels/LevelMeters.h"
#include "panel/CompactControls.h"
#include "panel/DesignFont.h"
#include "panel/MainWindowAccess.h"
#include "panel/PanelModel.h"
#include "panel/ReadingLabel.h"
#include "panel/ScreenCentring.h"
#include "panel/SettingsFile.h"
#include "update/uu.h"

#include <QAbstractItemView>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QWindow>

#include <utility>
#include <vector>

static void initMeterResources() {
    Q_INIT_RESOURCE(meters);
}

namespace qx {

namespace {

using panel::windowFont;

constexpr auto kTag = "tag";
const QString kCaption = QStringLiteral("QX-77ZT");
const QString kConfigFilter = QStringLiteral("Config File (*.cfg)");
const QString kConfigName = QStringLiteral("config.cfg");

int tagOf(const QObject* o) {
    return o->property(kTag).toInt();
}

// A gain editor that crops an out-of-range entry to the nearer limit as it is typed, instead of
// refusing the keystroke, so the cropped value is what gets reported.
class GainSpin : public QSpinBox {
public:
    using QSpinBox::QSpinBox;

protected:
    QValidator::State validate(QString& input, int& pos) const override {
        const QValidator::State state = QSpinBox::validate(input, pos);
        if (state != QValidator::Invalid) {
            return state;
        }
        bool ok = false;
        const qlonglong v = input.trimmed().toLongLong(&ok);
        if (!ok) {
            return state;
        }
        input = QString::number(std::clamp<qlonglong>(v, minimum(), maximum()));
        pos = static_cast<int>(input.size());
        return QValidator::Acceptable;
    }
};

QFrame* makePanel(QWidget* parent, const char* name, const QRect& r) {
    auto* p = new QFrame(parent);
    p->setObjectName(QLatin1String(name));
    p->setFrameStyle(QFrame::Panel | QFrame::Raised);
    p->setGeometry(r);
    return p;
}

template <typename Label = QLabel>
Label* makeLabel(QWidget* parent, const char* name, const QString& text, const QRect& r,
                 Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter) {
    auto* l = new Label(text, parent);
    l->setObjectName(QLatin1String(name));
    l->setGeometry(r);
    l->setAlignment(align);
    return l;
}

// Sets the checked states of a group with its buttons' handlers held off, so that nothing set
// here reaches the unit. The group is made non-exclusive meanwhile so that "none checked" can be
// shown too.
void checkOnly(QButtonGroup* group, int id) {
    // Most answers leave the choices as they are.
    if (group->checkedId() == id) {
        return;
    }
    std::vector<QSignalBlocker> blockers;
    const auto buttons = group->buttons();
    blockers.reserve(static_cast<std::size_t>(buttons.size()));
    for (QAbstractButton* b : buttons) {
        blockers.emplace_back(b);
    }
    group->setExclusive(false);
    for (QAbstractButton* b : buttons) {
        b->setChecked(group->id(b) == id);
    }
    group->setExclusive(true);
}

// Grows a caption label that its text overflows, the way an auto-sized label does: a
// right-aligned one keeps its right edge, a centred one its centre, any other its left edge.
void fitLabel(QLabel* l) {
    const int need = l->sizeHint().width();
    if (need <= l->width()) {
        return;
    }
    QRect r = l->geometry();
    const int grow = need - r.width();
    if (l->alignment() & Qt::AlignRight) {
        r.setLeft(r.left() - grow);
    } else if (l->alignment() & Qt::AlignHCenter) {
        r.setLeft(r.left() - grow / 2);
        r.setWidth(need);
    } else {
        r.setWidth(need);
    }
    l->setGeometry(r);
}

// Widens a radio button whose caption its box would clip; the design leaves a few pixels
// between neighbours for that.
void fitRadio(QRadioButton* b) {
    const QStyle* st = b->style();
    const int need = st->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, b) +
                     st->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, b) +
                     b->fontMetrics().horizontalAdvance(b->text());
    if (need > b->width()) {
        b->resize(need, b->height());
    }
}

void setSchemeIfChanged(THSSpeedButton* b, THSColorStyle scheme) {
    // Assigning a scheme repaints; unchanged buttons are left alone.
    if (b->colorStyle() != scheme) {
        b->setColorStyle(scheme);
    }
}

} // namespace

Tfmain::Tfmain(LinkState& link, Tfu& updateWindow, Dialogs& dialogs, QWidget* parent)
    : QMainWindow(parent), link_(&link), tfu_(updateWindow), dialogs_(dialogs),
      saveName_(kConfigName), openName_(kConfigName) {
    initMeterResources();
    // Before any control exists: Qt makes a control's interface for a screen reader as soon as
    // the control reports a change, and keeps it.
    installMainWindowAccessibility();
    setObjectName(QStringLiteral("fmain"));
    // One connection made here for the window's life: a request from another thread then only
    // posts an event, and no functor is created there and freed on either thread.
    connect(
        this, &Tfmain::refreshRequested, this,
        [this] {
            // Cleared first, so an answer stored while refresh runs queues the next one.
            refreshQueued_ = false;
            refresh();
            updateStatusLine();
            emit answerShown();
        },
        Qt::QueuedConnection);
    setWindowTitle(kCaption);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFont(windowFont(13));

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(kClientWidth, kClientHeight);
    client->setAutoFillBackground(true);
    setCentralWidget(client);

    buildButtons(client);
    buildMeters(client);
    buildChoices(client);
    buildColumns(client);
    buildMenu();

    hint_ = new QLabel(this);
    hint_->setObjectName(QStringLiteral("unitHint"));
    hint_->setWordWrap(true);
    hint_->setFont(windowFont(11));
    // Room for two lines whatever the state, so the window does not jump as sentences change.
    hint_->setMinimumHeight(2 * hint_->fontMetrics().lineSpacing());
    statusBar()->addWidget(hint_, 1);
    statusBar()->setSizeGripEnabled(false);
    // The window keeps the size of its contents; a hint of several lines makes it taller.
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    statusLineTimer_ = new QTimer(this);
    statusLineTimer_->setObjectName(QStringLiteral("statusLineTimer"));
    statusLineTimer_->setSingleShot(true);
    connect(statusLineTimer_, &QTimer::timeout, this, &Tfmain::updateStatusLine);

    FormCreate();
    // Status requests flow from the window's creation to the end of the program. The link
    // worker times them itself: a timer here would wake this thread for every request as well.
    link_->setStatusPolling(true);
}

Tfmain::~Tfmain() = default;

void Tfmain::showLink(LinkState& link) {
    if (link_ == &link) {
        return;
    }
    link_ = &link;
    // Silence and damage are counted afresh for the unit now shown.
    connectedAt_ = LinkState::Clock::now();
    damageCountedFrom_ = {};
    failuresBefore_ = 0;
    link_->setStatusPolling(true);
    if (!link_->settingsReported()) {
        // No reading of this unit yet: nothing of the unit shown before stays on the meters.
        levl->showReading(QString());
        levr->showReading(QString());
        lbl2->hide();
        lbl3->hide();
        for (int ch : {levels::LevelMeters::kLeft, levels::LevelMeters::kRight}) {
            levelMeters_->meter(ch)->setBarWidth(0);
        }
    }
    refresh();
    updateStatusLine();
}

void Tfmain::setUnitName(const QString& name) {
    setWindowTitle(name.isEmpty() ? kCaption : kCaption + QStringLiteral(" \u2014 ") + name);
}

void Tfmain::buildButtons(QWidget* client) {
    struct ButtonDesign {
        THSSpeedButton** member;
        const char* name;
        const char* caption;
        QRect rect;
    };
    const ButtonDesign designs[] = {
        {&but0, "but0", "1", {19, 16, 96, 49}},     {&but1, "but1", "2", {132, 16, 96, 49}},
        {&but2, "but2", "3", {19, 82, 96, 49}},     {&but3, "but3", "4", {132, 82, 96, 49}},
        {&mute, "mute", "MUTE", {19, 146, 46, 32}}, {&sum, "sum", "SUM", {73, 146, 40, 32}},
        {&dif, "dif", "DIF", {120, 146, 40, 32}},   {&dim, "dim", "-20 dB", {168, 146, 60, 32}},
    };
    const QFont font = windowFont(13);
    // The four presets are one choice, which a screen reader finds as a group of its own. The
    // group lies at the client area's origin, so the presets keep their places in it.
    auto* presets = new QWidget(client);
    presets->setObjectName(QStringLiteral("presets"));
    presets->setGeometry(0, 0, kClientWidth, 140);
    int tag = 0;
    for (const ButtonDesign& s : designs) {
        auto* b = new THSSpeedButton(tag < 4 ? presets : client);
        b->setObjectName(QLatin1String(s.name));
        b->setGeometry(s.rect);
        b->setFont(font);
        b->setColorStyle(lcsChrome);
        b->setButtonStyle(bsModern);
        b->setColor(clSilver);
        b->setColorWhenDown(clWhite);
        b->setHotTrackColor(RGBColor(208, 208, 208));
        b->setShadowColor(clSilver);
        b->setBorder(1);
        b->setSmooth(0);
        b->setAlignment(taCenter);
        b->setFontColor(clBlack);
        b->setHotTrackFont(font);
        b->setCaption(QLatin1String(s.caption));
        b->setProperty(kTag, tag < 4 ? tag : 0);
        *s.member = b;
        ++tag;
    }
    but0->setWordWrap(true);
    but2->setWordWrap(true);

    for (THSSpeedButton* b : {but0, but1, but2, but3}) {
        connect(b, &THSSpeedButton::mouseDown, this,
                [this, b](Qt::MouseButton button) { but_down(b, button); });
    }
    connect(mute, &THSSpeedButton::mouseDown, this, &Tfmain::muteClick);
    connect(sum, &THSSpeedButton::clicked, this, &Tfmain::sumClick);
    connect(dif, &THSSpeedButton::clicked, this, &Tfmain::difClick);
    connect(dim, &THSSpeedButton::mouseDown, this, &Tfmain::dimClick);
}

void Tfmain::buildColumns(QWidget* client) {
    const QFont big = windowFont(19);
    const auto column = [&](QFrame*& panel, const char* panelName, int left, QLabel*& title,
                            const char* titleName, const QString& titleText, int titleLeft,
                            QLabel*& gainLabel, const char* gainLabelName, QSpinBox*& gain,
                            const char* gainName, QLabel*& db, const char* dbName,
                            QLabel*& srcLabel, const char* srcLabelName, int srcLabelLeft,
                            int srcLabelWidth, QComboBox*& src, const char* srcName, int tag) {
        panel = makePanel(client, panelName, {left, 189, 99, 128});
        title = makeLabel(panel, titleName, titleText, {titleLeft, 4, 90, 23}, Qt::AlignCenter);
        title->setFont(big);
        gainLabel = makeLabel(panel, gainLabelName, QStringLiteral("Gain"), {30, 33, 27, 16},
                              Qt::AlignRight | Qt::AlignVCenter);
        gain = new GainSpin(panel);
        gain->setObjectName(QLatin1String(gainName));
        gain->setRange(panel::kEditorGainMin, panel::kEditorGainMax);
        gain->setGeometry(4, 52, 66, 24);
        gain->setProperty(kTag, tag);
        db = makeLabel(panel, dbName, QStringLiteral("dB"), {73, 56, 16, 16},
                       Qt::AlignRight | Qt::AlignVCenter);
        srcLabel = makeLabel(panel, srcLabelName, QStringLiteral("Source"),
                             {srcLabelLeft, 82, srcLabelWidth, 16}, Qt::AlignCenter);
        src = new QComboBox(panel);
        src->setObjectName(QLatin1String(srcName));
        for (int i = 0; i < kSourceCount; ++i) {
            src->addItem(QString::fromStdString(sourceName(i)));
        }
        src->setCurrentIndex(0);
        src->setGeometry(4, 100, 91, 24);
        src->setProperty(kTag, tag);
        QSpinBox* g = gain;
        QComboBox* c = src;
        connect(g, &QSpinBox::valueChanged, this, [this, g](int v) { gainLChange(g, v); });
        connect(c, &QComboBox::currentIndexChanged, this, [this, c](int i) { scr_sel(c, i); });
    };
    column(jvpnl1, "jvpnl1", 19, lbl5, "lbl5", QStringLiteral("Left"), 5, lbl10, "lbl10", gainL,
           "gainL", lbl1, "lbl1", lbl4, "lbl4", 5, 84, srcL, "srcL", 0);
    column(jvpnl2, "jvpnl2", 129, lbl9, "lbl9", QStringLiteral("Right"), 4, lbl6, "lbl6", gainR,
           "gainR", lbl7, "lbl7", lbl8, "lbl8", 4, 85, srcR, "srcR", 1);
}

void Tfmain::buildMeters(QWidget* client) {
    pnl1 = makePanel(client, "pnl1", {19, 321, 209, 39});
    const Qt::Alignment right = Qt::AlignRight | Qt::AlignVCenter;
    // No reading, not even its unit, until a unit has reported one: a made-up "-32 dB" would
    // look like a measurement.
    levl = makeLabel<panel::ReadingLabel>(pnl1, "levl", QString(), {160, 4, 28, 16}, right);
    levr = makeLabel<panel::ReadingLabel>(pnl1, "levr", QString(), {160, 19, 28, 16}, right);
    lbl2 = makeLabel(pnl1, "lbl2", QStringLiteral(" dB"), {185, 4, 20, 16});
    lbl3 = makeLabel(pnl1, "lbl3", QStringLiteral(" dB"), {185, 19, 20, 16});
    lbl2->hide();
    lbl3->hide();
    keepReadingRepaintsSmall();
    // The right bar starts a pixel left of its background.
    levelMeters_ = new levels::LevelMeters(pnl1,
                                           {{5, 7, 154, 10},
                                            QPixmap(QStringLiteral(":/meters/indl.png")),
                                            {5, 7, 154, 10},
                                            QPixmap(QStringLiteral(":/meters/imgl.png")),
                                            levl,
                                            QStringLiteral("Left")},
                                           {{4, 23, 154, 10},
                                            QPixmap(QStringLiteral(":/meters/indr.png")),
                                            {5, 23, 154, 10},
                                            QPixmap(QStringLiteral(":/meters/imgr.png")),
                                            levr,
                                            QStringLiteral("Right")});
    for (int ch : {levels::LevelMeters::kLeft, levels::LevelMeters::kRight}) {
        levelMeters_->meter(ch)->setBarWidth(0); // no bar either, until a unit reports a level
    }
}

// Every answer changes the readings: a new reading should repaint its own box only, not the
// panel's frame, the client area and the " dB" beneath.
void Tfmain::keepReadingRepaintsSmall() {
    // A reading fills its box with the panel's own colour. It lies over its " dB", whose first
    // pixels under the reading are its leading space.
    for (QLabel* reading : {static_cast<QLabel*>(levl), static_cast<QLabel*>(levr)}) {
        reading->setAutoFillBackground(true);
        reading->setAttribute(Qt::WA_OpaquePaintEvent);
        // The box never changes: a new text then asks the panel for no layout.
        reading->setFixedSize(reading->size());
    }
    // Both units lie under both readings: the upper reading's box and the lower " dB" share a
    // corner (which the lower reading covers), and a see-through widget above a reading would
    // make each of its repaints a repaint of the whole window's widgets there.
    lbl2->stackUnder(levl);
    lbl3->stackUnder(levl);
}

void Tfmain::buildChoices(QWidget* client) {
    const auto radio = [this](QWidget* panel, QButtonGroup* group, const char* name,
                              const QString& text, int tag, const QRect& r,
                              void (Tfmain::*handler)(QRadioButton*, bool)) {
        auto* b = new QRadioButton(text, panel);
        b->setObjectName(QLatin1String(name));
        b->setGeometry(r);
        b->setProperty(kTag, tag);
        group->addButton(b, tag);
        // A radio button reports a click when it becomes checked, never when it already was.
        connect(b, &QRadioButton::toggled, this,
                [this, b, handler](bool checked) { (this->*handler)(b, checked); });
        return b;
    };
    const auto title = [](QWidget* panel, const char* name, const QString& text) {
        return makeLabel(panel, name, text, {1, 1, 207, 16}, Qt::AlignCenter);
    };

    pnl_scale = makePanel(client, "pnl_scale", {19, 366, 209, 26});
    ballisticsGroup_ = new QButtonGroup(pnl_scale);
    rb_vu = radio(pnl_scale, ballisticsGroup_, "rb_vu", QStringLiteral("VU"), 0, {5, 3, 103, 17},
                  &Tfmain::scaleClick);
    rb_ppm = radio(pnl_scale, ballisticsGroup_, "rb_ppm", QStringLiteral("PPM"), 1,
                   {107, 3, 100, 17}, &Tfmain::scaleClick);

    pnl2 = makePanel(client, "pnl2", {19, 396, 209, 40});
    Label1 = title(pnl2, "Label1", QStringLiteral("Brightness"));
    brightnessGroup_ = new QButtonGroup(pnl2);
    brg0 = radio(pnl2, brightnessGroup_, "brg0", QStringLiteral("10%"), 0, {3, 17, 46, 17},
                 &Tfmain::brgClick);
    brg1 = radio(pnl2, brightnessGroup_, "brg1", QStringLiteral("30%"), 1, {52, 17, 46, 17},
                 &Tfmain::brgClick);
    brg2 = radio(pnl2, brightnessGroup_, "brg2", QStringLiteral("50%"), 2, {102, 17, 46, 17},
                 &Tfmain::brgClick);
    brg3 = radio(pnl2, brightnessGroup_, "brg3", QStringLiteral("100%"), 3, {151, 17, 56, 17},
                 &Tfmain::brgClick);

    pnl3 = makePanel(client, "pnl3", {19, 440, 209, 40});
    Label2 = title(pnl3, "Label2", QStringLiteral("Peak Hold"));
    peakGroup_ = new QButtonGroup(pnl3);
    peak0 = radio(pnl3, peakGroup_, "peak0", QStringLiteral("OFF"), 0, {5, 17, 46, 17},
                  &Tfmain::peakClick);
    peak1 = radio(pnl3, peakGroup_, "peak1", QStringLiteral("Peak"), 1, {57, 17, 58, 17},
                  &Tfmain::peakClick);
    peak2 = radio(pnl3, peakGroup_, "peak2", QStringLiteral("TruePeak"), 2, {121, 17, 83, 17},
                  &Tfmain::peakClick);

    Panel1 = makePanel(client, "Panel1", {19, 483, 209, 37});
    Label3 = title(Panel1, "Label3", QStringLiteral("Scale"));
    scaleGroup_ = new QButtonGroup(Panel1);
    rb_db = radio(Panel1, scaleGroup_, "rb_db", QStringLiteral("dB"), 0, {5, 17, 103, 17},
                  &Tfmain::rb_dbClick);
    rb_dbfs = radio(Panel1, scaleGroup_, "rb_dbfs", QStringLiteral("dBFS"), 1, {107, 16, 100, 17},
                    &Tfmain::rb_dbClick);
}

void Tfmain::buildMenu() {
    mm = menuBar();
    mm->setObjectName(QStringLiteral("mm"));
    // The menu bar uses the desktop's menu font, not the window's bold one, and tight item
    // padding so that all four commands fit across the narrow window.
    QFont menuFont = windowFont(12);
    menuFont.setBold(false);
    mm->setFont(menuFont);
    mm->setStyleSheet(QStringLiteral("QMenuBar::item { padding: 2px 4px; }"));
    N4 = mm->addMenu(QStringLiteral("&File"));
    N4->setObjectName(QStringLiteral("N4"));
    EXP = N4->addAction(QStringLiteral("&Save to file"), this, &Tfmain::EXPClick);
    IMP = N4->addAction(QStringLiteral("&Load from file"), this, &Tfmain::IMPClick);
    HIST = N4->addAction(QStringLiteral("Level &history"), this, [this] {
        levelMeters_->showHistory(this, dialogs_);
        levelMeters_->historyWindow()->unitName = [this] {
            return tfu_.deviceName().isEmpty()
                       ? QString()
                       : QStringLiteral("%1, serial %2, version %3")
                             .arg(tfu_.deviceName(), tfu_.deviceSerial(), tfu_.deviceVersion());
        };
    });
    FCLOSE = N4->addAction(QStringLiteral("&Close"), this, &Tfmain::FCLOSEClick);
    UPD = mm->addAction(QStringLiteral("&Update firmware"), this, &Tfmain::UPDClick);
    DEF = mm->addAction(QStringLiteral("&Ddefault"), this, &Tfmain::DEFClick);
    INF = mm->addAction(QStringLiteral("&About"), this, &Tfmain::INFClick);
    EXP->setObjectName(QStringLiteral("EXP"));
    IMP->setObjectName(QStringLiteral("IMP"));
    FCLOSE->setObjectName(QStringLiteral("FCLOSE"));
    HIST->setObjectName(QStringLiteral("HIST"));
    UPD->setObjectName(QStringLiteral("UPD"));
    DEF->setObjectName(QStringLiteral("DEF"));
    INF->setObjectName(QStringLiteral("INF"));
}

void Tfmain::FormCreate() {
    setUpKeyboard();
    nameMainWindowControls(*this);

    adjustSize();
    panel::centreOnScreen(*this);
    auto* compact = new panel::CompactControls();
    compact->setParent(this);
    for (QWidget* c : std::initializer_list<QWidget*>{srcL, srcR, rb_vu, rb_ppm, brg0, brg1, brg2,
                                                      brg3, peak0, peak1, peak2, rb_db, rb_dbfs}) {
        c->setStyle(compact);
    }
    // The new style makes each list's drop-down at once: it is a control of its own for a
    // screen reader.
    srcL->view()->setAccessibleName(QStringLiteral("Left source choices"));
    srcR->view()->setAccessibleName(QStringLiteral("Right source choices"));
    // The design's sizes fit its own font; a wider fallback font must not clip a caption.
    for (QLabel* l :
         {lbl5, lbl10, lbl1, lbl4, lbl9, lbl6, lbl7, lbl8, lbl2, lbl3, Label1, Label2, Label3}) {
        fitLabel(l);
    }
    for (QRadioButton* b :
         {rb_vu, rb_ppm, brg0, brg1, brg2, brg3, peak0, peak1, peak2, rb_db, rb_dbfs}) {
        fitRadio(b);
    }
    Cont(false);
    dim->setToolTip(QStringLiteral("Left button:    -20dB\nRight button:+20dB"));
}

void Tfmain::Cont(bool en) {
    for (QWidget* w :
         std::initializer_list<QWidget*>{but0, but1, but2, but3, mute, sum, dif, dim, jvpnl1,
                                         jvpnl2, pnl1, pnl_scale, pnl2, pnl3, Panel1}) {
        w->setEnabled(en);
    }
    if (en) {
        connectedAt_ = LinkState::Clock::now();
    }
    updateStatusLine();
}

void Tfmain::closeEvent(QCloseEvent* e) {
    if (onClose) {
        onClose();
    }
    e->accept();
}

bool Tfmain::isActiveControl(const QWidget* w) const {
    const QWidget* f = focusWidget();
    return f != nullptr && (f == w || w->isAncestorOf(f));
}

void Tfmain::clearActiveControl() {
    if (QWidget* f = focusWidget()) {
        f->clearFocus();
    }
}

void Tfmain::save(const std::function<void(DeviceSettings&)>& edit) {
    link_->save(edit);
}

// ---- handlers ---------------------------------------------------------------------------------

void Tfmain::but_down(THSSpeedButton* sender, Qt::MouseButton) {
    const auto tag = static_cast<uint8_t>(tagOf(sender));
    save([tag](DeviceSettings& s) { s.preset = tag; });
}

void Tfmain::muteClick(Qt::MouseButton) {
    save([](DeviceSettings& s) { s.muteOn = s.muteOn == 0 ? 1 : 0; });
}

void Tfmain::sumClick() {
    save([](DeviceSettings& s) { s.monitorMode = s.monitorMode == 1 ? 0 : 1; });
}

void Tfmain::difClick() {
    save([](DeviceSettings& s) { s.monitorMode = s.monitorMode == 2 ? 0 : 2; });
}

void Tfmain::dimClick(Qt::MouseButton button) {
    if (button == Qt::LeftButton) {
        save([](DeviceSettings& s) { s.dimMode = s.dimMode == 0 ? 1 : 0; });
    } else if (button == Qt::RightButton) {
        save([](DeviceSettings& s) { s.dimMode = 2; });
    }
}

void Tfmain::gainLChange(QSpinBox* sender, int value) {
    // Only the operator's own editing is sent; values set by refresh are not.
    if (!isActiveControl(sender)) {
        return;
    }
    const auto gain = static_cast<int8_t>(value);
    if (tagOf(sender) == 0) {
        save([gain](DeviceSettings& s) { s.gainLeft = gain; });
    } else {
        save([gain](DeviceSettings& s) { s.gainRight = gain; });
    }
}

void Tfmain::scr_sel(QComboBox* sender, int index) {
    if (!isActiveControl(sender) || index < 0 || index >= kSourceCount) {
        return;
    }
    if (link_->settings().preset > 3) {
        return;
    }
    const int side = tagOf(sender);
    save([side, index](DeviceSettings& s) {
        if (s.preset <= 3) {
            s.source[sourceSlot(s.preset, side) - 1] = static_cast<uint8_t>(index);
        }
    });
}

void Tfmain::scaleClick(QRadioButton* sender, bool checked) {
    if (checked) {
        const auto tag = static_cast<uint8_t>(tagOf(sender));
        save([tag](DeviceSettings& s) { s.ballistics = tag; });
    }
}

void Tfmain::brgClick(QRadioButton* sender, bool checked) {
    if (checked) {
        const auto tag = static_cast<uint8_t>(tagOf(sender));
        save([tag](DeviceSettings& s) { s.brightness = tag; });
    }
}

void Tfmain::peakClick(QRadioButton* sender, bool checked) {
    if (checked) {
        const auto tag = static_cast<uint8_t>(tagOf(sender));
        save([tag](DeviceSettings& s) { s.peakHold = tag; });
    }
}

void Tfmain::rb_dbClick(QRadioButton* sender, bool checked) {
    if (checked) {
        const auto tag = static_cast<uint8_t>(tagOf(sender));
        save([tag](DeviceSettings& s) { s.levelScale = tag; });
    }
}

// ---- menu -------------------------------------------------------------------------------------

void Tfmain::showFileError(const char* format, const QString& name, const std::string& error) {
    dialogs_.message(this, Dialogs::Icon::Error, kCaption,
                     QString::fromLatin1(format).arg(name, QString::fromStdString(error)),
                     QMessageBox::Ok);
}

void Tfmain::showFileRefusal(const QString& text) {
    dialogs_.message(this, Dialogs::Icon::Warning, kCaption, text, QMessageBox::Ok);
}

void Tfmain::EXPClick() {
    // The record starts as zeros that no unit ever reported; a file of them would load as
    // settings nobody chose.
    if (!link_->settingsReported()) {
        showFileRefusal(QStringLiteral("No unit has reported its settings yet, so there is "
                                       "nothing to save. Connect the unit and try again."));
        return;
    }
    const QString chosen = dialogs_.saveFileName(this, saveName_, kConfigFilter);
    if (chosen.isEmpty()) {
        return;
    }
    const QString name = QString::fromStdString(panel::withCfgExtension(chosen.toStdString()));
    saveName_ = name;
    const DeviceSettings s = link_->settings();
    // Whatever is saved must load again.
    if (const auto problem = panel::settingsProblem(rawBytes(s))) {
        showFileRefusal(QStringLiteral("The settings cannot be saved: %1.")
                            .arg(QString::fromStdString(*problem)));
        return;
    }
    const panel::FileResult r = panel::writeSettingsFile(QFile::encodeName(name).toStdString(), s);
    if (!r.ok) {
        showFileError("Cannot create file \"%1\". %2", name, r.error);
    }
}

void Tfmain::IMPClick() {
    const QString name = dialogs_.openFileName(this, openName_, kConfigFilter);
    if (name.isEmpty()) {
        return;
    }
    openName_ = name;
    const panel::FileBytes file = panel::readSettingsFile(QFile::encodeName(name).toStdString());
    if (!file.ok) {
        showFileError("Cannot open file \"%1\". %2", name, file.error);
        return;
    }
    const panel::ParsedSettings parsed = panel::parseSettingsFile(file.bytes);
    if (!parsed.settings) {
        showFileRefusal(QStringLiteral("\"%1\" is not a settings file: %2. Nothing was sent to "
                                       "the unit.")
                            .arg(name, QString::fromStdString(parsed.problem)));
        return;
    }
    // So that the next refresh also updates the gain and source controls.
    clearActiveControl();
    const DeviceSettings loaded = *parsed.settings;
    link_->save([&loaded](DeviceSettings& s) { s = loaded; }, ChangeOrigin::File);
}

void Tfmain::FCLOSEClick() {
    close();
}

void Tfmain::UPDClick() {
    // Showing sizes a window that was never resized to its contents; centre it at that size.
    if (!tfu_.testAttribute(Qt::WA_Resized)) {
        tfu_.adjustSize();
    }
    const QRect main = frameGeometry();
    // The desktop frames the update window only once it is shown: until then take the frame
    // this window has.
    QSize upd = tfu_.frameGeometry().size();
    if (upd == tfu_.size()) {
        upd += main.size() - size();
    }
    tfu_.move(panel::centredStart(main.x(), main.width(), upd.width()),
              panel::centredStart(main.y(), main.height(), upd.height()));
    // Modal to this window only: other windows of the process (the demo's control of its
    // virtual unit, the level history) stay usable while it is open.
    tfu_.setWindowModality(Qt::WindowModal);
    tfu_.winId();
    if (QWindow* own = windowHandle(); own != nullptr && tfu_.windowHandle() != nullptr) {
        tfu_.windowHandle()->setTransientParent(own);
    }
    updateWindowOpen_ = true;
    updateStatusLine();
    tfu_.exec();
    updateWindowOpen_ = false;
    updateStatusLine();
    if (connectUnit) {
        connectUnit();
    }
}

void Tfmain::DEFClick() {
    if (!dialogs_.confirmDefaults(this)) {
        return;
    }
    save([](DeviceSettings& s) { s = factoryDefaults(); });
    refresh();
    clearActiveControl();
}

void Tfmain::INFClick() {
    const QString text = QStringLiteral("Model: ") + tfu_.deviceName() +
                         QStringLiteral("\nSerial: ") + tfu_.deviceSerial() +
                         QStringLiteral("\nSoftware version: ") + tfu_.deviceVersion();
    if (!onDiagnostics) {
        dialogs_.message(this, Dialogs::Icon::Information, QStringLiteral("INFO"), text,
                         QMessageBox::Ok);
        return;
    }
    if (dialogs_.offer(this, Dialogs::Icon::Information, QStringLiteral("INFO"), text,
                       QStringLiteral("Diagnostics…"))) {
        onDiagnostics();
    }
}

// ---- display ----------------------------------------------------------------------------------

void Tfmain::requestRefresh() {
    if (refreshQueued_.exchange(true)) {
        return;
    }
    emit refreshRequested();
}

void Tfmain::refresh() {
    // The gains are clamped in the record itself: the next settings write sends the clamped
    // values.
    DeviceSettings s;
    link_->editSettings([&s](DeviceSettings& r) {
        r.gainLeft = panel::clampRecordGain(r.gainLeft);
        r.gainRight = panel::clampRecordGain(r.gainRight);
        s = r;
    });
    const DeviceStatus st = link_->status();

    const panel::ButtonSchemes schemes = panel::schemesFor(s);
    THSSpeedButton* const presets[] = {but0, but1, but2, but3};
    for (std::size_t i = 0; i < 4; ++i) {
        setSchemeIfChanged(presets[i], schemes.presets[i]);
    }
    setSchemeIfChanged(mute, schemes.mute);
    setSchemeIfChanged(sum, schemes.sum);
    setSchemeIfChanged(dif, schemes.dif);
    setSchemeIfChanged(dim, schemes.dim);
    // The caption states the value the unit holds, like the scheme: a click only asks for it.
    if (const QString caption = QLatin1String(panel::dimCaption(s.dimMode));
        dim->caption() != caption) {
        dim->setCaption(caption);
    }
    nameDimButton(*dim, s.dimMode);

    // A control the operator is editing keeps the operator's value. A spin box repaints on
    // every setValue, also of the value it shows: most answers change only the levels.
    if (!isActiveControl(gainL) && gainL->value() != s.gainLeft) {
        gainL->setValue(s.gainLeft);
    }
    if (!isActiveControl(gainR) && gainR->value() != s.gainRight) {
        gainR->setValue(s.gainRight);
    }

    checkOnly(ballisticsGroup_, s.ballistics != 0 ? 1 : 0);

    // The status record holds levels only once a unit has answered; before that (the
    // "Ddefault" command without a unit) there is no reading to show or to keep in the history.
    if (link_->settingsReported()) {
        // A level beyond the table ends the update here; the rest keeps its look until next
        // time.
        const std::optional<std::string> left = panel::levelLabel(st.levelLeft);
        if (!left) {
            return;
        }
        levl->showReading(QString::fromStdString(*left));
        lbl2->setVisible(true);
        const std::optional<std::string> right = panel::levelLabel(st.levelRight);
        if (!right) {
            return;
        }
        levr->showReading(QString::fromStdString(*right));
        lbl3->setVisible(true);

        levelMeters_->meter(levels::LevelMeters::kLeft)
            ->setBarWidth(panel::shownBarWidth(st.levelLeft));
        levelMeters_->meter(levels::LevelMeters::kRight)
            ->setBarWidth(panel::shownBarWidth(st.levelRight));
        levelMeters_->show(st.levelLeft, st.levelRight);
    }

    link_->editSettings([](DeviceSettings& r) { r.brightness &= 3; });
    checkOnly(brightnessGroup_, s.brightness & 3);
    checkOnly(peakGroup_, s.peakHold);
    checkOnly(scaleGroup_, s.levelScale != 0 ? 1 : 0);

    if (s.preset > 3) {
        return;
    }
    // A list keeps the operator's value only while its drop-down is open; with the focus alone
    // it would go on showing the previous preset's source after a preset change.
    const auto choose = [](QComboBox* box, uint8_t index) {
        const int shown = index < kSourceCount ? index : -1;
        if (box->currentIndex() == shown) {
            return;
        }
        // view() would make a drop-down for a list never opened; such a list has none.
        const auto* dropDown = box->findChild<QAbstractItemView*>();
        if (dropDown != nullptr && dropDown->isVisible()) {
            return;
        }
        // The list may hold the focus: a choice made here is not the operator's and sends
        // nothing.
        const QSignalBlocker quiet(box);
        box->setCurrentIndex(shown);
    };
    choose(srcL, s.source[sourceSlot(s.preset, 0) - 1]);
    choose(srcR, s.source[sourceSlot(s.preset, 1) - 1]);
}

} // namespace qx
