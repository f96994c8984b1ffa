// The resource bundle and the style sheet: every image is in the bundle at the size of the
// widget it dresses, the style sheet names only images that exist and colours of the palette,
// and its rules reach the widgets by object name (pictures, colours, sizes, fonts).
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSet>
#include <QtTest>

#include <memory>

namespace {

const QString prefix = QStringLiteral(":/vospen/vospen/");

// The palette of the look, as the design gives it; white and transparency are allowed besides.
const QStringList palette = {
    "#0d7cc3", "#1592e1", "#fe8619", "#f8f8f8", "#fff",    "#e0e0e0", "#e5e5e5",
    "#eee",    "#ebebeb", "#d7d7d7", "#d2d2d2", "#c3c3c3", "#cccccc", "#999",
    "#7e7e7e", "#666",    "#575757", "#525252", "#333",    "#181818",
};

// "#abc" -> "#aabbcc", lower case.
QString normalColour(const QString& hex)
{
    QString h = hex.toLower();
    if (h.size() == 4)
        h = QString("#") + h[1] + h[1] + h[2] + h[2] + h[3] + h[3];
    return h;
}

QSet<QString> paletteSet()
{
    QSet<QString> set;
    for (const QString& c : palette)
        set.insert(normalColour(c));
    return set;
}

struct Image
{
    const char* name;
    int width;
    int height;
    bool styleOnly; // referenced only by the style sheet
};

// Every file of the bundle but the style sheet and the window icon, with the size of the widget
// or indicator it is drawn for.
const Image images[] = {
    {"16_16.png", 16, 16, false}, // tray icon
    // title bar window buttons, 30 x 30
    {"min.png", 30, 30, true},
    {"min_h.png", 30, 30, true},
    {"max.png", 30, 30, true},
    {"max_h.png", 30, 30, true},
    {"normal.png", 30, 30, true},
    {"normal_h.png", 30, 30, true},
    {"close.png", 30, 30, true},
    {"close_h.png", 30, 30, true},
    {"close_m.png", 12, 12, true}, // "btnCloseM" is 12 x 12
    {"btnBack.png", 30, 30, true}, // bottom of the 30 x 34 back button
    {"back2.png", 30, 20, true},   // "btnBack2" is 30 x 20
    // navigation buttons, 60 x 60
    {"btnClass.png", 60, 60, true},
    {"btnClassHover.png", 60, 60, true},
    {"btnClassDis.png", 60, 60, true},
    {"btnDownload.png", 60, 60, true},
    {"btnDownloadHover.png", 60, 60, true},
    {"btnDownloadDis.png", 60, 60, true},
    {"btnQA.png", 60, 60, true},
    {"btnQAHover.png", 60, 60, true},
    {"btnQADis.png", 60, 60, true},
    {"btnUser.png", 60, 60, true},
    {"btnUserHover.png", 60, 60, true},
    {"btnUserDis.png", 60, 60, true},
    // download states: overlay icons 32 x 32, row icons 20 x 20, add-more tile 220 x 124,
    // no-course label 177 x 88
    {"ddz.png", 32, 32, true},
    {"ztz.png", 32, 32, true},
    {"sb.png", 32, 32, true},
    {"downing.png", 20, 20, true},
    {"done.png", 20, 20, true},
    {"addmore.png", 220, 124, true},
    {"nocourse.png", 177, 64, true},
    // account
    {"alterpwd.png", 20, 20, true},
    {"nametip.png", 24, 24, true},
    {"pwdtip.png", 24, 24, true},
    {"wxpta_03.png", 77, 75, true}, // "lblOK" is 77 x 75
    {"bar.png", 1200, 120, true},   // 120 high, stretched across
    {"logo.png", 345, 34, true},    // "logo" is 345 x 34
    // indicators
    {"ck.png", 16, 16, true},
    {"ckun.png", 16, 16, true},
    {"xz.png", 24, 24, true}, // "ckDel" is 24 x 24
    {"rd.png", 16, 16, true},
    {"rdun.png", 16, 16, true},
    {"arrowdown.png", 12, 8, true},
    // player: control buttons 24 x 24, big start 90 x 90
    {"play.png", 24, 24, true},
    {"play_h.png", 24, 24, true},
    {"spend.png", 24, 24, true},
    {"spend_h.png", 24, 24, true},
    {"voice.png", 24, 24, true},
    {"voice_h.png", 24, 24, true},
    {"voice_j.png", 24, 24, true},
    {"voice_j_h.png", 24, 24, true},
    {"fullscreen.png", 24, 24, true},
    {"fullscreen_h.png", 24, 24, true},
    {"recovery.png", 24, 24, true},
    {"recovery_h.png", 24, 24, true},
    {"p_min.png", 24, 24, true},
    {"p_max.png", 24, 24, true},
    {"p_normal.png", 24, 24, true},
    {"p_close.png", 24, 24, true},
    {"btnBigStart.png", 90, 90, true},
};

QString readStyleSheet()
{
    QFile file(prefix + "vospen.css");
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

// Comments become blanks, their line breaks stay, so that line numbers still point into the file.
QString withoutComments(const QString& css)
{
    static const QRegularExpression comment(QStringLiteral("/\\*.*?\\*/"),
                                            QRegularExpression::DotMatchesEverythingOption);
    QString out;
    int last = 0;
    auto it = comment.globalMatch(css);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        out += css.mid(last, m.capturedStart() - last);
        out += QString(m.captured(0).count('\n'), '\n') + ' ';
        last = m.capturedEnd();
    }
    out += css.mid(last);
    return out;
}

struct Declaration
{
    int line;
    QString property;
    QString value;
};

// The declarations of every rule, with the line each starts on.
QList<Declaration> declarations(const QString& css)
{
    QList<Declaration> out;
    const QString text = withoutComments(css);
    int pos = 0;
    while (true) {
        const int open = text.indexOf('{', pos);
        if (open < 0)
            break;
        const int close = text.indexOf('}', open);
        if (close < 0)
            break;
        int start = open + 1;
        const QString body = text.mid(start, close - start);
        for (const QString& part : body.split(';')) {
            const int colon = part.indexOf(':');
            if (colon < 0) {
                start += part.size() + 1;
                continue;
            }
            const int leading =
                part.size() - QString(part).remove(QRegularExpression("^\\s+")).size();
            Declaration d;
            d.line = text.left(start + leading).count('\n') + 1;
            d.property = part.left(colon).trimmed().toLower();
            d.value = part.mid(colon + 1).trimmed();
            out.append(d);
            start += part.size() + 1;
        }
        pos = close + 1;
    }
    return out;
}

bool samePixel(QRgb a, QRgb b, int tolerance)
{
    return qAbs(qRed(a) - qRed(b)) <= tolerance && qAbs(qGreen(a) - qGreen(b)) <= tolerance &&
           qAbs(qBlue(a) - qBlue(b)) <= tolerance;
}

// Collects the style sheet parser's complaints.
QStringList* styleWarnings = nullptr;
QtMessageHandler previousHandler = nullptr;

void collectWarnings(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (styleWarnings && type == QtWarningMsg && message.contains("style", Qt::CaseInsensitive))
        styleWarnings->append(message);
    if (previousHandler)
        previousHandler(type, context, message);
}

std::unique_ptr<QWidget> makeWidgetOfType(const QString& type)
{
    if (type == "QPushButton")
        return std::make_unique<QPushButton>();
    if (type == "QLabel")
        return std::make_unique<QLabel>();
    if (type == "QLineEdit")
        return std::make_unique<QLineEdit>();
    if (type == "QComboBox")
        return std::make_unique<QComboBox>();
    if (type == "QCheckBox")
        return std::make_unique<QCheckBox>();
    auto plain = std::make_unique<QWidget>();
    plain->setAttribute(Qt::WA_StyledBackground);
    return plain;
}

// The object name is set first, as the pages do, so that the first polish sees it.
std::unique_ptr<QWidget> makeWidget(const QString& type, const QString& objectName)
{
    auto widget = makeWidgetOfType(type);
    widget->setObjectName(objectName);
    if (auto* box = qobject_cast<QComboBox*>(widget.get()))
        box->setEditable(true);
    return widget;
}

// Brings a widget into the state of a data row. Hovering takes a real pointer over a shown
// window: the style only sees the state that the pointer's arrival sets.
bool enterState(QWidget* widget, const QString& state)
{
    if (state == "disabled")
        widget->setEnabled(false);
    widget->ensurePolished();
    if (state == "hover") {
        widget->show();
        if (!QTest::qWaitForWindowExposed(widget))
            return false;
        // Away from every window first: a window that replaced another at the same place is
        // only told that the pointer came in when it comes from outside.
        const QRect screen = widget->screen()->geometry();
        QCursor::setPos(screen.bottomRight());
        QCoreApplication::processEvents();
        QTest::mouseMove(widget, widget->rect().center());
        QCoreApplication::processEvents();
        return widget->underMouse();
    }
    return true;
}

} // namespace

class TestResources : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();

    void styleSheetIsInTheBundle();
    void imageInBundle_data();
    void imageInBundle();
    void variantDiffers_data();
    void variantDiffers();
    void windowIcon();
    void styleSheetNamesEveryImage_data();
    void styleSheetNamesEveryImage();
    void styleSheetUrlsExist_data();
    void styleSheetUrlsExist();
    void styleSheetColoursFromPalette_data();
    void styleSheetColoursFromPalette();
    void styleSheetParses();
    void pictureReachesWidget_data();
    void pictureReachesWidget();
    void backgroundColour_data();
    void backgroundColour();
    void textColour_data();
    void textColour();
    void sizeHint_data();
    void sizeHint();
    void fonts_data();
    void fonts();

private:
    QString css;
    QStringList warnings;
};

void TestResources::initTestCase()
{
    css = readStyleSheet();
    styleWarnings = &warnings;
    previousHandler = qInstallMessageHandler(collectWarnings);
    qApp->setStyleSheet(css);
}

void TestResources::cleanupTestCase()
{
    qInstallMessageHandler(previousHandler);
    styleWarnings = nullptr;
}

void TestResources::styleSheetIsInTheBundle()
{
    QVERIFY2(!css.isEmpty(), "vospen.css is missing or empty");
    QVERIFY(css.contains("#btnLogin"));
}

void TestResources::imageInBundle_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("size");
    for (const Image& image : images)
        QTest::newRow(image.name) << QString(image.name) << QSize(image.width, image.height);
}

void TestResources::imageInBundle()
{
    QFETCH(QString, name);
    QFETCH(QSize, size);
    QVERIFY2(QFile::exists(prefix + name), qPrintable(name + " is not in the bundle"));
    const QImage image(prefix + name);
    QVERIFY2(!image.isNull(), qPrintable(name + " does not load"));
    QCOMPARE(image.size(), size);
    // Something is drawn: not a blank, fully transparent picture.
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    int opaque = 0;
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x)
            if (qAlpha(argb.pixel(x, y)) > 128)
                ++opaque;
    QVERIFY2(opaque >= 4, qPrintable(name + " is blank"));
}

void TestResources::variantDiffers_data()
{
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("variant");
    const char* const hovered[] = {"min",   "max",   "normal",  "close",      "play",
                                   "spend", "voice", "voice_j", "fullscreen", "recovery"};
    for (const char* name : hovered)
        QTest::newRow(qPrintable(QString(name) + "_h"))
            << QString(name) + ".png" << QString(name) + "_h.png";
    const char* const navigation[] = {"btnClass", "btnDownload", "btnQA", "btnUser"};
    for (const char* name : navigation) {
        QTest::newRow(qPrintable(QString(name) + "Hover"))
            << QString(name) + ".png" << QString(name) + "Hover.png";
        QTest::newRow(qPrintable(QString(name) + "Dis"))
            << QString(name) + ".png" << QString(name) + "Dis.png";
        QTest::newRow(qPrintable(QString(name) + "Hover/Dis"))
            << QString(name) + "Hover.png" << QString(name) + "Dis.png";
    }
    QTest::newRow("ck/ckun") << "ck.png"
                             << "ckun.png";
    QTest::newRow("rd/rdun") << "rd.png"
                             << "rdun.png";
    QTest::newRow("voice/voice_j") << "voice.png"
                                   << "voice_j.png";
    QTest::newRow("play/spend") << "play.png"
                                << "spend.png";
    QTest::newRow("fullscreen/recovery") << "fullscreen.png"
                                         << "recovery.png";
    QTest::newRow("max/normal") << "max.png"
                                << "normal.png";
    QTest::newRow("p_max/p_normal") << "p_max.png"
                                    << "p_normal.png";
    QTest::newRow("ddz/ztz") << "ddz.png"
                             << "ztz.png";
    QTest::newRow("downing/done") << "downing.png"
                                  << "done.png";
    QTest::newRow("btnClass/btnDownload") << "btnClass.png"
                                          << "btnDownload.png";
    QTest::newRow("btnDownload/btnUser") << "btnDownload.png"
                                         << "btnUser.png";
}

// A state picture that is a copy of another would hide the state change.
void TestResources::variantDiffers()
{
    QFETCH(QString, base);
    QFETCH(QString, variant);
    const QImage a = QImage(prefix + base).convertToFormat(QImage::Format_ARGB32);
    const QImage b = QImage(prefix + variant).convertToFormat(QImage::Format_ARGB32);
    QVERIFY(!a.isNull());
    QVERIFY(!b.isNull());
    QVERIFY2(a != b, qPrintable(base + " and " + variant + " are the same picture"));
}

void TestResources::windowIcon()
{
    QImageReader reader(prefix + "tamix.ico");
    QVERIFY2(reader.canRead(), qPrintable(reader.errorString()));
    QCOMPARE(reader.imageCount(), 4);
    QList<int> sizes;
    for (int i = 0; i < reader.imageCount(); ++i) {
        QVERIFY(reader.jumpToImage(i));
        const QImage image = reader.read();
        QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
        QCOMPARE(image.width(), image.height());
        QVERIFY(image.hasAlphaChannel());
        sizes.append(image.width());
    }
    std::sort(sizes.begin(), sizes.end());
    QCOMPARE(sizes, (QList<int>{16, 32, 48, 256}));
}

void TestResources::styleSheetNamesEveryImage_data()
{
    QTest::addColumn<QString>("name");
    for (const Image& image : images)
        if (image.styleOnly)
            QTest::newRow(image.name) << QString(image.name);
}

// Each picture that only the style sheet uses is named in a url() of it.
void TestResources::styleSheetNamesEveryImage()
{
    QFETCH(QString, name);
    const QString text = withoutComments(css);
    QVERIFY2(text.contains("url(" + prefix + name + ")"),
             qPrintable(name + " is not used by the style sheet"));
}

void TestResources::styleSheetUrlsExist_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<int>("line");
    static const QRegularExpression url(QStringLiteral("url\\(\\s*([^)]*?)\\s*\\)"));
    int count = 0;
    for (const Declaration& d : declarations(css)) {
        auto it = url.globalMatch(d.value);
        while (it.hasNext()) {
            const QString target = it.next().captured(1);
            QTest::newRow(qPrintable(QString("line %1: %2").arg(d.line).arg(target)))
                << target << d.line;
            ++count;
        }
    }
    // The sheet draws dozens of pictures; finding none means the scan itself is broken.
    if (count < 50)
        QTest::newRow("too few url() found") << QString() << 0;
}

void TestResources::styleSheetUrlsExist()
{
    QFETCH(QString, url);
    QVERIFY2(url.startsWith(prefix), qPrintable(url + " is not under " + prefix));
    QVERIFY2(QFile::exists(url), qPrintable(url + " is not in the bundle"));
    QVERIFY2(!QImage(url).isNull(), qPrintable(url + " does not load"));
}

void TestResources::styleSheetColoursFromPalette_data()
{
    QTest::addColumn<QString>("token");
    QTest::addColumn<bool>("colour"); // a hex colour, else a word that must not name a colour
    static const QRegularExpression hex(QStringLiteral("#[0-9A-Fa-f]+\\b"));
    static const QRegularExpression quoted(QStringLiteral("\"[^\"]*\"|'[^']*'"));
    static const QRegularExpression url(QStringLiteral("url\\([^)]*\\)"));
    static const QRegularExpression word(QStringLiteral("[A-Za-z][A-Za-z-]*\\(?"));
    // Words that may follow a colour property and are not colours themselves.
    static const QSet<QString> keywords = {
        "none",   "solid",    "dashed",   "dotted",  "transparent", "white",
        "center", "top",      "bottom",   "left",    "right",       "no-repeat",
        "repeat", "repeat-x", "repeat-y", "stretch", "px"};
    int count = 0;
    for (const Declaration& d : declarations(css)) {
        QString value = d.value;
        value.remove(quoted).remove(url);
        auto hit = hex.globalMatch(value);
        while (hit.hasNext()) {
            const QString token = hit.next().captured(0);
            QTest::newRow(qPrintable(QString("line %1: %2").arg(d.line).arg(token)))
                << token << true;
            ++count;
        }
        const bool colourProperty = d.property.contains("color") || d.property == "background" ||
                                    d.property == "border" || d.property.startsWith("border-") ||
                                    d.property == "outline";
        if (!colourProperty || d.property.endsWith("radius") || d.property == "border-image")
            continue;
        value.remove(hex);
        auto words = word.globalMatch(value);
        while (words.hasNext()) {
            const QString token = words.next().captured(0);
            if (!keywords.contains(token.toLower()))
                QTest::newRow(qPrintable(QString("line %1: %2").arg(d.line).arg(token)))
                    << token << false;
        }
    }
    if (count < 50)
        QTest::newRow("too few colours found") << QString() << true;
}

void TestResources::styleSheetColoursFromPalette()
{
    QFETCH(QString, token);
    QFETCH(bool, colour);
    QVERIFY2(colour, qPrintable(token + " is a colour outside the palette (name or function)"));
    QVERIFY2(paletteSet().contains(normalColour(token)),
             qPrintable(token + " is not in the palette"));
}

void TestResources::styleSheetParses()
{
    warnings.clear();
    QWidget probe;
    probe.setObjectName("MainBorder");
    probe.ensurePolished();
    QPushButton button(&probe);
    button.setObjectName("btnLogin");
    button.ensurePolished();
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));
}

void TestResources::pictureReachesWidget_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("objectName");
    QTest::addColumn<QSize>("widgetSize");
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("image");
    QTest::addColumn<QPoint>("offset"); // where the picture's top left lands in the widget

    const QPoint origin(0, 0);
    const QSize window(30, 30);
    const char* const windowButtons[][2] = {
        {"btnMin", "min"}, {"btnMax", "max"}, {"btnNormal", "normal"}, {"btnClose", "close"}};
    for (const auto& b : windowButtons) {
        QTest::newRow(b[0]) << "QPushButton" << b[0] << window << "normal" << QString(b[1]) + ".png"
                            << origin;
        QTest::newRow(qPrintable(QString(b[0]) + ":hover"))
            << "QPushButton" << b[0] << window << "hover" << QString(b[1]) + "_h.png" << origin;
    }
    QTest::newRow("btnCloseM") << "QPushButton"
                               << "btnCloseM" << QSize(12, 12) << "normal"
                               << "close_m.png" << origin;
    QTest::newRow("btnControlClose") << "QPushButton"
                                     << "btnControlClose" << QSize(20, 20) << "normal"
                                     << "close_m.png" << QPoint(4, 4);
    QTest::newRow("btnBack bottom") << "QPushButton"
                                    << "btnBack" << QSize(30, 34) << "normal"
                                    << "btnBack.png" << QPoint(0, 4);
    QTest::newRow("btnBack2") << "QPushButton"
                              << "btnBack2" << QSize(30, 20) << "normal"
                              << "back2.png" << origin;
    QTest::newRow("btnWait") << "QPushButton"
                             << "btnWait" << QSize(32, 32) << "normal"
                             << "ddz.png" << origin;
    QTest::newRow("btnPauseKejian") << "QPushButton"
                                    << "btnPauseKejian" << QSize(32, 32) << "normal"
                                    << "ztz.png" << origin;
    QTest::newRow("btnFail") << "QPushButton"
                             << "btnFail" << QSize(32, 32) << "normal"
                             << "sb.png" << origin;
    QTest::newRow("btnAlterPwd right") << "QPushButton"
                                       << "btnAlterPwd" << QSize(300, 20) << "normal"
                                       << "alterpwd.png" << QPoint(280, 0);

    const char* const navigation[][2] = {{"btnMyClass", "btnClass"},
                                         {"btnDownload", "btnDownload"},
                                         {"btnQA", "btnQA"},
                                         {"btnUser", "btnUser"}};
    for (const auto& b : navigation) {
        const QSize nav(60, 60);
        QTest::newRow(b[0]) << "QPushButton" << b[0] << nav << "normal" << QString(b[1]) + ".png"
                            << origin;
        QTest::newRow(qPrintable(QString(b[0]) + ":hover"))
            << "QPushButton" << b[0] << nav << "hover" << QString(b[1]) + "Hover.png" << origin;
        QTest::newRow(qPrintable(QString(b[0]) + ":disabled"))
            << "QPushButton" << b[0] << nav << "disabled" << QString(b[1]) + "Dis.png" << origin;
    }

    const char* const player[][2] = {{"btnPlay", "play"},         {"btnPause", "spend"},
                                     {"btnVolumn", "voice"},      {"btnNoVolumn", "voice_j"},
                                     {"btnScreen", "fullscreen"}, {"btnRecovery", "recovery"}};
    for (const auto& b : player) {
        QTest::newRow(b[0]) << "QPushButton" << b[0] << QSize(24, 24) << "normal"
                            << QString(b[1]) + ".png" << origin;
        QTest::newRow(qPrintable(QString(b[0]) + ":hover"))
            << "QPushButton" << b[0] << QSize(24, 24) << "hover" << QString(b[1]) + "_h.png"
            << origin;
    }
    const char* const playerTitle[][2] = {{"btnpMin", "p_min"},
                                          {"btnpMax", "p_max"},
                                          {"btnpNormal", "p_normal"},
                                          {"btnpClose", "p_close"}};
    for (const auto& b : playerTitle)
        QTest::newRow(b[0]) << "QPushButton" << b[0] << QSize(24, 24) << "normal"
                            << QString(b[1]) + ".png" << origin;
    QTest::newRow("btnBigStart") << "QPushButton"
                                 << "btnBigStart" << QSize(90, 90) << "normal"
                                 << "btnBigStart.png" << origin;

    QTest::newRow("lblDownIcon") << "QLabel"
                                 << "lblDownIcon" << QSize(40, 30) << "normal"
                                 << "downing.png" << QPoint(10, 5);
    QTest::newRow("lblDoneIcon") << "QLabel"
                                 << "lblDoneIcon" << QSize(40, 30) << "normal"
                                 << "done.png" << QPoint(10, 5);
    QTest::newRow("logo") << "QLabel"
                          << "logo" << QSize(345, 34) << "normal"
                          << "logo.png" << origin;
    QTest::newRow("lblnocourse") << "QLabel"
                                 << "lblnocourse" << QSize(177, 64) << "normal"
                                 << "nocourse.png" << origin;
    QTest::newRow("lblOK") << "QLabel"
                           << "lblOK" << QSize(77, 75) << "normal"
                           << "wxpta_03.png" << origin;
    QTest::newRow("addmore") << "QLabel"
                             << "addmore" << QSize(220, 124) << "normal"
                             << "addmore.png" << origin;
    QTest::newRow("bar") << "QLabel"
                         << "bar" << QSize(1200, 120) << "normal"
                         << "bar.png" << origin;
    QTest::newRow("lblName") << "QLabel"
                             << "lblName" << QSize(52, 60) << "normal"
                             << "nametip.png" << QPoint(14, 18);
    QTest::newRow("lblPwdTip") << "QLabel"
                               << "lblPwdTip" << QSize(52, 60) << "normal"
                               << "pwdtip.png" << QPoint(14, 18);
}

// The rule for the object name puts the right picture at the right place: every opaque pixel
// of the picture shows in the widget as it is.
void TestResources::pictureReachesWidget()
{
    QFETCH(QString, type);
    QFETCH(QString, objectName);
    QFETCH(QSize, widgetSize);
    QFETCH(QString, state);
    QFETCH(QString, image);
    QFETCH(QPoint, offset);

    const QImage picture = QImage(prefix + image).convertToFormat(QImage::Format_ARGB32);
    QVERIFY(!picture.isNull());

    auto widget = makeWidget(type, objectName);
    widget->setFixedSize(widgetSize);
    QVERIFY2(enterState(widget.get(), state), "the pointer did not reach the widget");
    const QImage shown = widget->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(shown.size(), widgetSize);

    int compared = 0;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb expected = picture.pixel(x, y);
            if (qAlpha(expected) != 255)
                continue;
            const QRgb actual = shown.pixel(x + offset.x(), y + offset.y());
            if (!samePixel(actual, expected, 2))
                QFAIL(qPrintable(QString("%1 at (%2, %3): shows #%4, the picture has #%5")
                                     .arg(image)
                                     .arg(x)
                                     .arg(y)
                                     .arg(actual & 0xffffff, 6, 16, QChar('0'))
                                     .arg(expected & 0xffffff, 6, 16, QChar('0'))));
            ++compared;
        }
    }
    QVERIFY2(compared > 0, qPrintable(image + " has no opaque pixel to compare"));
}

void TestResources::backgroundColour_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("objectName");
    QTest::addColumn<QSize>("widgetSize");
    QTest::addColumn<QString>("state");
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<QString>("colour");

    const QSize box(100, 40);
    const QPoint middle(50, 20);
    QTest::newRow("MainBorder") << "QWidget"
                                << "MainBorder" << box << "normal" << middle << "#e0e0e0";
    QTest::newRow("ContentWidget") << "QWidget"
                                   << "ContentWidget" << box << "normal" << middle << "#f8f8f8";
    QTest::newRow("MainWidget") << "QWidget"
                                << "MainWidget" << box << "normal" << middle << "#f8f8f8";
    QTest::newRow("MainWidget left border")
        << "QWidget"
        << "MainWidget" << box << "normal" << QPoint(0, 20) << "#fff";
    QTest::newRow("TitleWidget") << "QWidget"
                                 << "TitleWidget" << box << "normal" << middle << "#f8f8f8";
    QTest::newRow("TitleWidget top border")
        << "QWidget"
        << "TitleWidget" << box << "normal" << QPoint(50, 0) << "#fff";
    QTest::newRow("NavigatWidget") << "QWidget"
                                   << "NavigatWidget" << box << "normal" << middle << "#fff";
    QTest::newRow("FormPlayer") << "QWidget"
                                << "FormPlayer" << box << "normal" << middle << "#181818";
    QTest::newRow("MessageBox") << "QWidget"
                                << "MessageBox" << box << "normal" << middle << "#fff";
    QTest::newRow("MessageBoxTitle") << "QWidget"
                                     << "MessageBoxTitle" << box << "normal" << middle << "#f8f8f8";
    QTest::newRow("MessageBoxBottom")
        << "QWidget"
        << "MessageBoxBottom" << box << "normal" << middle << "#f8f8f8";
    QTest::newRow("CourseItem") << "QWidget"
                                << "CourseItem" << box << "normal" << middle << "#fff";
    QTest::newRow("CourseItem:hover") << "QWidget"
                                      << "CourseItem" << box << "hover" << middle << "#f8f8f8";
    QTest::newRow("line") << "QWidget"
                          << "line" << box << "normal" << middle << "#0d7cc3";
    QTest::newRow("CountBox") << "QWidget"
                              << "CountBox" << box << "normal" << middle << "#fe8619";

    // Buttons without text: the middle shows the fill, the edge the border.
    QTest::newRow("btnLogin") << "QPushButton"
                              << "btnLogin" << QSize(379, 61) << "normal" << QPoint(190, 30)
                              << "#1592e1";
    QTest::newRow("btnLogin:hover")
        << "QPushButton"
        << "btnLogin" << QSize(379, 61) << "hover" << QPoint(190, 30) << "#0d7cc3";
    QTest::newRow("btnTitle") << "QPushButton"
                              << "btnTitle" << QSize(68, 28) << "normal" << QPoint(34, 14)
                              << "#f8f8f8";
    QTest::newRow("btnTitle border")
        << "QPushButton"
        << "btnTitle" << QSize(68, 28) << "normal" << QPoint(34, 0) << "#d2d2d2";
    QTest::newRow("btnTitle:hover")
        << "QPushButton"
        << "btnTitle" << QSize(68, 28) << "hover" << QPoint(34, 14) << "#0d7cc3";
    QTest::newRow("btnOK") << "QPushButton"
                           << "btnOK" << QSize(90, 35) << "normal" << QPoint(45, 17) << "#fe8619";
    QTest::newRow("btnCancel") << "QPushButton"
                               << "btnCancel" << QSize(90, 35) << "normal" << QPoint(45, 17)
                               << "#ebebeb";
    QTest::newRow("btnOK3") << "QPushButton"
                            << "btnOK3" << QSize(92, 30) << "normal" << QPoint(46, 15) << "#ebebeb";
    QTest::newRow("btnOK3 border")
        << "QPushButton"
        << "btnOK3" << QSize(92, 30) << "normal" << QPoint(0, 15) << "#d7d7d7";
    QTest::newRow("btnChangeDir") << "QPushButton"
                                  << "btnChangeDir" << QSize(92, 30) << "normal" << QPoint(46, 15)
                                  << "#ebebeb";
    QTest::newRow("btnEsc") << "QPushButton"
                            << "btnEsc" << QSize(298, 48) << "normal" << QPoint(149, 24)
                            << "#f8f8f8";
    QTest::newRow("btnEsc border")
        << "QPushButton"
        << "btnEsc" << QSize(298, 48) << "normal" << QPoint(149, 0) << "#0d7cc3";
    QTest::newRow("btnEsc2") << "QPushButton"
                             << "btnEsc2" << QSize(298, 48) << "normal" << QPoint(149, 24)
                             << "#fff";
    QTest::newRow("btnRelogin") << "QPushButton"
                                << "btnRelogin" << QSize(208, 58) << "normal" << QPoint(104, 29)
                                << "#fff";
    QTest::newRow("btnRelogin border")
        << "QPushButton"
        << "btnRelogin" << QSize(208, 58) << "normal" << QPoint(0, 29) << "#0d7cc3";
    QTest::newRow("btnStudy border")
        << "QPushButton"
        << "btnStudy" << QSize(60, 23) << "normal" << QPoint(30, 0) << "#575757";
    QTest::newRow("btnStudy:hover border")
        << "QPushButton"
        << "btnStudy" << QSize(60, 23) << "hover" << QPoint(30, 1) << "#0d7cc3";
    QTest::newRow("btnStudy:disabled border")
        << "QPushButton"
        << "btnStudy" << QSize(60, 23) << "disabled" << QPoint(30, 1) << "#0d7cc3";
    QTest::newRow("btnCloseM") << "QPushButton"
                               << "btnCloseM" << QSize(20, 20) << "normal" << QPoint(1, 1)
                               << "#fff";
    QTest::newRow("btnMyClass") << "QPushButton"
                                << "btnMyClass" << QSize(80, 60) << "normal" << QPoint(2, 2)
                                << "#fff";
    QTest::newRow("txtPath border")
        << "QLineEdit"
        << "txtPath" << QSize(200, 30) << "normal" << QPoint(0, 15) << "#d7d7d7";
    QTest::newRow("txtName") << "QLineEdit"
                             << "txtName" << QSize(379, 61) << "normal" << QPoint(370, 30)
                             << "#fff";
    QTest::newRow("lblName") << "QLabel"
                             << "lblName" << QSize(52, 61) << "normal" << QPoint(50, 2) << "#fff";
    QTest::newRow("labelload") << "QLabel"
                               << "labelload" << box << "normal" << QPoint(98, 2) << "#181818";
}

void TestResources::backgroundColour()
{
    QFETCH(QString, type);
    QFETCH(QString, objectName);
    QFETCH(QSize, widgetSize);
    QFETCH(QString, state);
    QFETCH(QPoint, at);
    QFETCH(QString, colour);

    auto widget = makeWidget(type, objectName);
    widget->setFixedSize(widgetSize);
    QVERIFY2(enterState(widget.get(), state), "the pointer did not reach the widget");
    const QImage shown = widget->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    const QRgb actual = shown.pixel(at);
    const QRgb expected = QColor(colour).rgb();
    QVERIFY2(samePixel(actual, expected, 2),
             qPrintable(QString("shows #%1, expected %2")
                            .arg(actual & 0xffffff, 6, 16, QChar('0'))
                            .arg(colour)));
}

void TestResources::textColour_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("objectName");
    QTest::addColumn<QString>("colour");
    QTest::newRow("btnControl") << "QPushButton"
                                << "btnControl"
                                << "#666";
    QTest::newRow("btnControlClose") << "QPushButton"
                                     << "btnControlClose"
                                     << "#666";
    QTest::newRow("btnAlterPwd") << "QPushButton"
                                 << "btnAlterPwd"
                                 << "#666";
    QTest::newRow("btnTitle") << "QPushButton"
                              << "btnTitle"
                              << "#333";
    QTest::newRow("btnLogin") << "QPushButton"
                              << "btnLogin"
                              << "#fff";
    QTest::newRow("btnEsc") << "QPushButton"
                            << "btnEsc"
                            << "#0d7cc3";
    QTest::newRow("btnEsc2") << "QPushButton"
                             << "btnEsc2"
                             << "#0d7cc3";
    QTest::newRow("btnOK3") << "QPushButton"
                            << "btnOK3"
                            << "#333";
    QTest::newRow("btnOK") << "QPushButton"
                           << "btnOK"
                           << "#fff";
    QTest::newRow("btnRelogin") << "QPushButton"
                                << "btnRelogin"
                                << "#0d7cc3";
    QTest::newRow("btnCourseDown") << "QPushButton"
                                   << "btnCourseDown"
                                   << "#fe8619";
    QTest::newRow("btnDelete") << "QPushButton"
                               << "btnDelete"
                               << "#fe8619";
    QTest::newRow("btnEdit") << "QPushButton"
                             << "btnEdit"
                             << "#fe8619";
    QTest::newRow("btnCourseCancel") << "QPushButton"
                                     << "btnCourseCancel"
                                     << "#333";
    QTest::newRow("btnDownTitle") << "QPushButton"
                                  << "btnDownTitle"
                                  << "#333";
    QTest::newRow("btnDownTitleClick") << "QPushButton"
                                       << "btnDownTitleClick"
                                       << "#0d7cc3";
    QTest::newRow("btnPauseAll") << "QPushButton"
                                 << "btnPauseAll"
                                 << "#0d7cc3";
    QTest::newRow("btnStudy") << "QPushButton"
                              << "btnStudy"
                              << "#cccccc";
    QTest::newRow("txtName") << "QLineEdit"
                             << "txtName"
                             << "#999";
    QTest::newRow("cmbName") << "QComboBox"
                             << "cmbName"
                             << "#999";
    QTest::newRow("lblReg") << "QLabel"
                            << "lblReg"
                            << "#999";
    QTest::newRow("lblUserInfo") << "QLabel"
                                 << "lblUserInfo"
                                 << "#333";
    QTest::newRow("lblClass") << "QLabel"
                              << "lblClass"
                              << "#333";
    QTest::newRow("lblLine") << "QLabel"
                             << "lblLine"
                             << "#e5e5e5";
    QTest::newRow("label14999") << "QLabel"
                                << "label14999"
                                << "#999";
    QTest::newRow("xgcg") << "QLabel"
                          << "xgcg"
                          << "#0d7cc3";
    QTest::newRow("lblCourseZhang") << "QLabel"
                                    << "lblCourseZhang"
                                    << "#0d7cc3";
    QTest::newRow("lblCourseJie") << "QLabel"
                                  << "lblCourseJie"
                                  << "#333";
    QTest::newRow("lblCourseTime") << "QLabel"
                                   << "lblCourseTime"
                                   << "#999";
    QTest::newRow("lblCount") << "QLabel"
                              << "lblCount"
                              << "#fff";
    QTest::newRow("lbltime1") << "QLabel"
                              << "lbltime1"
                              << "#cccccc";
    QTest::newRow("lbltime2") << "QLabel"
                              << "lbltime2"
                              << "#7e7e7e";
    QTest::newRow("progress") << "QLabel"
                              << "progress"
                              << "#666";
    QTest::newRow("labelload") << "QLabel"
                               << "labelload"
                               << "#fff";
    QTest::newRow("playertitle") << "QLabel"
                                 << "playertitle"
                                 << "#fff";
    QTest::newRow("TipLabel") << "QLabel"
                              << "TipLabel"
                              << "#333";
    QTest::newRow("lblPwdTip") << "QLabel"
                               << "lblPwdTip"
                               << "#333";
    QTest::newRow("ckCourse") << "QCheckBox"
                              << "ckCourse"
                              << "#333";
    QTest::newRow("ckAll") << "QCheckBox"
                           << "ckAll"
                           << "#333";
}

// Text colours arrive in the widget's palette, in the role its text is drawn with.
void TestResources::textColour()
{
    QFETCH(QString, type);
    QFETCH(QString, objectName);
    QFETCH(QString, colour);
    auto widget = makeWidget(type, objectName);
    widget->ensurePolished();
    QPalette::ColorRole role = widget->foregroundRole();
    if (type == "QPushButton")
        role = QPalette::ButtonText;
    else if (type == "QLineEdit" || type == "QComboBox")
        role = QPalette::Text;
    QCOMPARE(widget->palette().color(role).name(), QColor(colour).name());
}

void TestResources::sizeHint_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("objectName");
    QTest::addColumn<QSize>("size");
    QTest::newRow("btnTitle") << "QPushButton"
                              << "btnTitle" << QSize(68, 28);
    QTest::newRow("btnLogin") << "QPushButton"
                              << "btnLogin" << QSize(379, 61);
    QTest::newRow("btnEsc") << "QPushButton"
                            << "btnEsc" << QSize(298, 48);
    QTest::newRow("btnEsc2") << "QPushButton"
                             << "btnEsc2" << QSize(298, 48);
    QTest::newRow("btnOK3") << "QPushButton"
                            << "btnOK3" << QSize(92, 30);
    QTest::newRow("btnChangeDir") << "QPushButton"
                                  << "btnChangeDir" << QSize(92, 30);
    QTest::newRow("btnOK") << "QPushButton"
                           << "btnOK" << QSize(90, 35);
    QTest::newRow("btnCancel") << "QPushButton"
                               << "btnCancel" << QSize(90, 35);
    QTest::newRow("btnRelogin") << "QPushButton"
                                << "btnRelogin" << QSize(208, 58);
    QTest::newRow("btnStudy") << "QPushButton"
                              << "btnStudy" << QSize(60, 23);
    const char* const player[] = {"btnPlay",    "btnPause",    "btnVolumn", "btnNoVolumn",
                                  "btnScreen",  "btnRecovery", "btnpMin",   "btnpMax",
                                  "btnpNormal", "btnpClose"};
    for (const char* name : player)
        QTest::newRow(name) << "QPushButton" << name << QSize(24, 24);
    QTest::newRow("txtName") << "QLineEdit"
                             << "txtName" << QSize(379, 61);
    QTest::newRow("cmbName") << "QComboBox"
                             << "cmbName" << QSize(379, 61);
}

void TestResources::sizeHint()
{
    QFETCH(QString, type);
    QFETCH(QString, objectName);
    QFETCH(QSize, size);
    auto widget = makeWidget(type, objectName);
    if (auto* button = qobject_cast<QPushButton*>(widget.get()))
        button->setText("确定");
    widget->ensurePolished();
    QCOMPARE(widget->sizeHint(), size);
}

void TestResources::fonts_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("objectName");
    QTest::addColumn<int>("pixelSize"); // 0: not fixed by the sheet
    QTest::addColumn<QStringList>("families");
    const QStringList yahei = {"Microsoft Yahei", "Noto Sans CJK SC"};
    QTest::newRow("plain label") << "QLabel"
                                 << "unstyled" << 0 << yahei;
    QTest::newRow("btnTitle") << "QPushButton"
                              << "btnTitle" << 14 << yahei;
    QTest::newRow("btnLogin") << "QPushButton"
                              << "btnLogin" << 20 << yahei;
    QTest::newRow("btnEsc") << "QPushButton"
                            << "btnEsc" << 20 << yahei;
    QTest::newRow("btnChangeDir") << "QPushButton"
                                  << "btnChangeDir" << 12 << yahei;
    QTest::newRow("btnOK") << "QPushButton"
                           << "btnOK" << 16 << yahei;
    QTest::newRow("btnRelogin") << "QPushButton"
                                << "btnRelogin" << 24 << yahei;
    QTest::newRow("btnEdit") << "QPushButton"
                             << "btnEdit" << 16 << yahei;
    QTest::newRow("btnStudy") << "QPushButton"
                              << "btnStudy" << 12 << yahei;
    QTest::newRow("txtName") << "QLineEdit"
                             << "txtName" << 16 << yahei;
    QTest::newRow("cmbName") << "QComboBox"
                             << "cmbName" << 16 << yahei;
    QTest::newRow("lblUserInfo") << "QLabel"
                                 << "lblUserInfo" << 16 << yahei;
    QTest::newRow("xgcg") << "QLabel"
                          << "xgcg" << 25 << yahei;
    QTest::newRow("playertitle") << "QLabel"
                                 << "playertitle" << 15 << yahei;
    QTest::newRow("labelload") << "QLabel"
                               << "labelload" << 14 << yahei;
    QTest::newRow("lblCourseZhang") << "QLabel"
                                    << "lblCourseZhang" << 14 << yahei;
    QTest::newRow("lblCourseJie") << "QLabel"
                                  << "lblCourseJie" << 14 << yahei;
    QTest::newRow("lblCourseTime") << "QLabel"
                                   << "lblCourseTime" << 14 << yahei;
    QTest::newRow("lblCount") << "QLabel"
                              << "lblCount" << 12 << yahei;
    QTest::newRow("lbltime1") << "QLabel"
                              << "lbltime1" << 12 << yahei;
    QTest::newRow("progress") << "QLabel"
                              << "progress" << 12 << yahei;
    QTest::newRow("ckCourse") << "QCheckBox"
                              << "ckCourse" << 14 << yahei;
    QTest::newRow("ckAll") << "QCheckBox"
                           << "ckAll" << 14 << yahei;
}

// The Windows font first, the Linux CJK font after it; on this system the Linux one is used,
// so Chinese text has glyphs.
void TestResources::fonts()
{
    QFETCH(QString, type);
    QFETCH(QString, objectName);
    QFETCH(int, pixelSize);
    QFETCH(QStringList, families);
    auto widget = makeWidget(type, objectName);
    widget->ensurePolished();
    const QFont font = widget->font();
    QStringList actual = font.families();
    if (actual.isEmpty())
        actual = QStringList{font.family()};
    QCOMPARE(actual, families);
    if (pixelSize)
        QCOMPARE(font.pixelSize(), pixelSize);
    if (!QFontDatabase().families().contains(families.last()))
        QSKIP(qPrintable(families.last() + " is not installed here"));
    QCOMPARE(QFontInfo(font).family(), families.last());
}

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
