#include "app/fmain.h"

#include <QCheckBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QStyle>
#include <QTest>
#include <QTimer>

using namespace vestrel;
using namespace Qt::StringLiterals;

namespace {

// Twips to pixels at 96 dpi.
QRect twips(int left, int top, int width, int height) {
    return {left / 15, top / 15, width / 15, height / 15};
}

QString captionOf(const QWidget* widget) {
    if (auto* button = qobject_cast<const QAbstractButton*>(widget))
        return button->text();
    if (auto* label = qobject_cast<const QLabel*>(widget))
        return label->text();
    if (auto* edit = qobject_cast<const QLineEdit*>(widget))
        return edit->text();
    if (auto* box = qobject_cast<const QGroupBox*>(widget))
        return box->title();
    return {};
}

// The frame alone as its style paints it, children hidden: the caption and the border line
// are the pixels that stand out from the window's background.
QImage emptyFrame(QGroupBox* box) {
    const QList<QWidget*> children = box->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* child : children)
        child->hide();
    const QImage image = box->grab().toImage();
    for (QWidget* child : children)
        child->show();
    return image;
}

bool standsOut(QColor pixel, QColor background) {
    return qAbs(pixel.red() - background.red()) + qAbs(pixel.green() - background.green()) +
               qAbs(pixel.blue() - background.blue()) >
           48;
}

} // namespace

class TestFMainLayout : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { UseProgramStyle(); }

    void window() {
        FMain form;
        QCOMPARE(form.objectName(), u"FMain"_s);
        QCOMPARE(form.windowTitle(), u"Tarvoni Software - Vestrel"_s);
        QCOMPARE(form.size(), QSize(708, 375)); // 10620 x 5625 twips
        const QList<QSize> sizes = form.windowIcon().availableSizes();
        for (const QSize size : {QSize(16, 16), QSize(32, 32), QSize(48, 48)})
            QVERIFY2(sizes.contains(size), qPrintable(u"no %1 px icon"_s.arg(size.width())));
    }

    void controls_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("container");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("caption");
        auto row = [](const char* name, const char* container, const char* kind, QRect geometry,
                      const QString& caption = {}) {
            QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(container)
                                << QString::fromLatin1(kind) << geometry << caption;
        };
        row("txtStatus", "FMain", "vestrel::MultiLineTextBox", twips(9120, 3240, 1335, 615));
        row("Frame1", "FMain", "QGroupBox", twips(120, 2640, 8895, 1095), u"Status :"_s);
        // The button column: every 480 twips from Top 240.
        row("CmdSave", "FMain", "QPushButton", twips(9120, 240, 1335, 375), u"&Salva"_s);
        row("CmdLoad", "FMain", "QPushButton", twips(9120, 720, 1335, 375), u"&Carica"_s);
        row("CmdBackup", "FMain", "QPushButton", twips(9120, 1200, 1335, 375), u"&Esegui Backup"_s);
        row("CmdAbilita", "FMain", "QPushButton", twips(9120, 1680, 1335, 375),
            u"Disabilita Auto"_s);
        row("CmdNascondi", "FMain", "QPushButton", twips(9120, 2160, 1335, 375), u"&Nascondi"_s);
        row("CmdEsci", "FMain", "QPushButton", twips(9120, 2640, 1335, 375), u"Esc&i"_s);
        row("fraCon", "FMain", "QGroupBox", twips(150, 120, 8865, 2415),
            u"Connessione a Server SQL e Impostazione File di Backup :"_s);
        row("Frame5", "FMain", "QGroupBox", twips(120, 3840, 8895, 1695),
            u"Ore di Attivit\u00e0 :"_s);
        row("LblVersion", "FMain", "QLabel", twips(9120, 5160, 1335, 255), u"0.0.0.0"_s);
        row("Label3", "FMain", "QLabel", twips(9120, 4920, 1335, 255), u"Versione :"_s);
        row("Label6", "Frame1", "QLabel", twips(240, 240, 1815, 255), u"Ultimo Backup eseguito:"_s);
        row("LblLastUpdate", "Frame1", "QLabel", twips(2040, 240, 2415, 255));
        row("ShpStat(1)", "Frame1", "vestrel::Shape", twips(4680, 240, 255, 255));
        row("Label1", "Frame1", "QLabel", twips(5040, 240, 1095, 255), u"In Esecuzione"_s);
        row("ShpStat(2)", "Frame1", "vestrel::Shape", twips(6240, 240, 255, 255));
        row("Label2", "Frame1", "QLabel", twips(6600, 240, 735, 255), u"In Pausa"_s);
        row("ShpStat(3)", "Frame1", "vestrel::Shape", twips(7560, 240, 255, 255));
        row("Label5", "Frame1", "QLabel", twips(7920, 240, 735, 255), u"Errore"_s);
        row("PgBar", "Frame1", "QProgressBar", twips(240, 600, 8415, 375));
        row("lblSrvName", "fraCon", "QLabel", twips(285, 360, 1050, 240), u"Nome Server:"_s);
        row("txtSrv", "fraCon", "QLineEdit", twips(1545, 300, 2835, 330), u"(localhost)"_s);
        row("chkIntegrated", "fraCon", "QCheckBox", twips(4680, 360, 3255, 195),
            u"Utilizza protezione integrata di Windows"_s);
        row("lblUsr", "fraCon", "QLabel", twips(285, 810, 645, 240), u"User ID:"_s);
        row("txtUsr", "fraCon", "QLineEdit", twips(1545, 735, 2835, 330), u"sa"_s);
        row("lblPwd", "fraCon", "QLabel", twips(4605, 810, 780, 240), u"Password:"_s);
        row("txtPwd", "fraCon", "QLineEdit", twips(5865, 750, 2835, 330));
        row("lblDBName", "fraCon", "QLabel", twips(285, 1230, 1185, 240), u"Nome database:"_s);
        row("txtDBName", "fraCon", "QLineEdit", twips(1545, 1185, 2835, 330));
        row("Label4", "fraCon", "QLabel", twips(240, 1680, 2775, 255), u"Nome File di Backup :"_s);
        row("TxtPath", "fraCon", "QLineEdit", twips(240, 1920, 7815, 285));
        row("CmdDir", "fraCon", "QPushButton", twips(8160, 1920, 495, 285), u".."_s);
        row("CmdEscludi", "Frame5", "QPushButton", twips(5280, 1200, 1695, 375),
            u"Escludi Tutti"_s);
        row("CmdIncludi", "Frame5", "QPushButton", twips(7080, 1200, 1695, 375),
            u"Includi Tutti"_s);
    }
    void controls() {
        QFETCH(QString, name);
        QFETCH(QString, container);
        QFETCH(QString, kind);
        QFETCH(QRect, geometry);
        QFETCH(QString, caption);
        FMain form;
        auto* control = form.findChild<QWidget*>(name);
        QVERIFY2(control, qPrintable(name));
        QCOMPARE(control->parentWidget()->objectName(), container);
        QCOMPARE(QString::fromLatin1(control->metaObject()->className()), kind);
        // Rounding to whole pixels may move an edge by one.
        QVERIFY2(qAbs(control->x() - geometry.x()) <= 1 && qAbs(control->y() - geometry.y()) <= 1 &&
                     qAbs(control->width() - geometry.width()) <= 1 &&
                     qAbs(control->height() - geometry.height()) <= 1,
                 qPrintable(u"%1 at %2,%3 %4x%5"_s.arg(name)
                                .arg(control->x())
                                .arg(control->y())
                                .arg(control->width())
                                .arg(control->height())));
        QCOMPARE(captionOf(control), caption);
    }

    void hourRow() {
        FMain form;
        for (int hour = 0; hour < 24; ++hour) {
            QLabel* label = form.Label13(hour);
            ColorButton* button = form.CmdHour(hour);
            QCOMPARE(label, form.findChild<QLabel*>(u"Label13(%1)"_s.arg(hour)));
            QCOMPARE(button, form.findChild<ColorButton*>(u"CmdHour(%1)"_s.arg(hour)));
            QCOMPARE(label->text(), u"%1"_s.arg(hour, 2, 10, QLatin1Char('0')));
            QVERIFY(label->font().bold());
            // In the system's window colours.
            QVERIFY(label->autoFillBackground());
            QCOMPARE(label->palette().color(QPalette::Window),
                     form.palette().color(QPalette::Base));
            QCOMPARE(label->palette().color(QPalette::WindowText),
                     form.palette().color(QPalette::Text));
            QCOMPARE(label->parentWidget(), form.Frame5);
            QCOMPARE(button->parentWidget(), form.Frame5);
            // One row, directly under the labels, 360 twips apart.
            QCOMPARE(button->x(), label->x());
            QCOMPARE(label->x(), (120 + 360 * hour) / 15);
            QVERIFY(button->y() >= label->y() + label->height() - 1);
            QCOMPARE(button->text(), QString());
            QCOMPARE(button->backColor(), QColor(0xFF, 0xFF, 0xFF));
        }
        QCOMPARE(form.Label13(0)->text(), u"00"_s);
        QCOMPARE(form.Label13(9)->text(), u"09"_s);
    }

    void defaults() {
        FMain form;
        QCOMPARE(form.txtPwd->text(), QString());
        QCOMPARE(form.txtPwd->echoMode(), QLineEdit::Password);
        QVERIFY(!form.chkIntegrated->isChecked());
        QVERIFY(form.txtUsr->isEnabled());
        QVERIFY(form.txtPwd->isEnabled());
        QCOMPARE(form.txtStatus->text(), QString());
        QCOMPARE(form.txtStatus->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(form.PgBar->minimum(), 0);
        QCOMPARE(form.PgBar->maximum(), 100);
        QCOMPARE(form.PgBar->value(), 0);
        QCOMPARE(form.ShpStat(1)->fillColor(), QColor(0xFF, 0x80, 0xFF));
        QCOMPARE(form.ShpStat(2)->fillColor(), QColor(0x00, 0xFF, 0xFF));
        QCOMPARE(form.ShpStat(3)->fillColor(), QColor(0xFF, 0xFF, 0xFF));
        for (QLabel* label : {form.LblVersion, form.Label3}) {
            QVERIFY(label->font().bold());
            QCOMPARE(label->palette().color(QPalette::WindowText), QColor(0x80, 0x80, 0x80));
        }
        QVERIFY(form.Tmr->isActive());
        QCOMPARE(form.Tmr->objectName(), u"Tmr"_s);
    }

    // Each lamp stands left of the label that names its state.
    void lampsStandBeforeTheirLabels() {
        FMain form;
        const QLabel* labels[] = {form.Label1, form.Label2, form.Label5};
        for (int i = 1; i <= 3; ++i) {
            const Shape* lamp = form.ShpStat(i);
            QCOMPARE(lamp->objectName(), u"ShpStat(%1)"_s.arg(i));
            QVERIFY(lamp->geometry().right() < labels[i - 1]->x());
            QCOMPARE(lamp->y(), labels[i - 1]->y());
        }
    }

    // Every caption fits its control: nothing is cut off with the stand-in font.
    void captionsFit() {
        if (!QFontDatabase::families().contains(u"Liberation Sans"_s))
            QSKIP("the stand-in face (fonts-liberation2) is not installed");
        FMain form;
        for (const QLabel* label : form.findChildren<QLabel*>()) {
            const int needed = QFontMetrics(label->font()).horizontalAdvance(label->text());
            QVERIFY2(needed <= label->contentsRect().width(),
                     qPrintable(u"%1 \"%2\": %3 px for %4"_s.arg(label->objectName(), label->text())
                                    .arg(needed)
                                    .arg(label->contentsRect().width())));
        }
        for (const QAbstractButton* button : form.findChildren<QAbstractButton*>()) {
            // A check box needs its box and the text; a push button the text and its frame.
            const int needed =
                qobject_cast<const QCheckBox*>(button)
                    ? button->sizeHint().width()
                    : QFontMetrics(button->font())
                              .horizontalAdvance(QString(button->text()).remove(u'&')) +
                          4;
            QVERIFY2(
                needed <= button->width(),
                qPrintable(u"%1 \"%2\": %3 px for %4"_s.arg(button->objectName(), button->text())
                               .arg(needed)
                               .arg(button->width())));
        }
    }

    // The program's own look: Qt's classic Windows style, in which the twips coordinates sit
    // inside their frames as they were laid out.
    void windowsStyle() {
        FMain form;
        QCOMPARE(form.style()->name(), u"windows"_s);
        QCOMPARE(form.Frame1->style()->name(), u"windows"_s);
        // chkIntegrated is 13 px high: its box fits.
        QVERIFY(form.style()->pixelMetric(QStyle::PM_IndicatorHeight, nullptr,
                                          form.chkIntegrated) <= form.chkIntegrated->height());
    }

    // No control crosses its frame's caption or border line.
    void controlsClearTheirFrames() {
        FMain form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const QColor background = form.palette().color(QPalette::Window);
        for (QGroupBox* box : {form.Frame1, form.fraCon, form.Frame5}) {
            const QImage frame = emptyFrame(box);
            int drawn = 0;
            for (int y = 0; y < frame.height(); ++y) {
                for (int x = 0; x < frame.width(); ++x)
                    drawn += standsOut(frame.pixelColor(x, y), background);
            }
            QVERIFY2(drawn > box->width() * 2, "no frame drawn"); // the test sees the lines
            for (const QWidget* control : box->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
                const QRect g = control->geometry();
                QVERIFY2(frame.rect().contains(g), qPrintable(control->objectName()));
                for (int y = g.top(); y <= g.bottom(); ++y) {
                    for (int x = g.left(); x <= g.right(); ++x) {
                        QVERIFY2(!standsOut(frame.pixelColor(x, y), background),
                                 qPrintable(u"%1 (%2,%3 %4x%5) covers %6's line at %7,%8"_s
                                                .arg(control->objectName())
                                                .arg(g.x())
                                                .arg(g.y())
                                                .arg(g.width())
                                                .arg(g.height())
                                                .arg(box->objectName())
                                                .arg(x)
                                                .arg(y)));
                    }
                }
            }
        }
    }

    void rendersWithoutGlitches() {
        FMain form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const QImage image = form.grab().toImage();
        QCOMPARE(image.size(), QSize(708, 375));
        // The hour buttons paint their white background.
        const QPoint inButton = form.CmdHour(5)->mapTo(&form, QPoint(12, 16));
        QCOMPARE(QColor(image.pixel(inButton)), QColor(Qt::white));
    }
};

QTEST_MAIN(TestFMainLayout)
#include "tst_fmain_layout.moc"
