// The about dialog from the Help menu: made once, its page from the bundle,
// and every link and logo handed to the system's browser.
#include "MainWindow.h"
#include "UI_AboutDialog.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QImage>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QWebFrame>
#include <QWebView>
#include <gtest/gtest.h>

namespace {

/// Stands in for the system's browser.
class UrlRecorder : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> urls;

public slots:
    void record(const QUrl& url) { urls << url; }
};

QVariant evaluate(QWebView* view, const QString& script)
{
    return view->page()->mainFrame()->evaluateJavaScript(script);
}

} // namespace

TEST(AboutDialogTest, MadeOnceShowsTheBundlePageAndHandsEveryLinkToTheBrowser)
{
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler("https", &recorder, "record");

    MainWindow window;
    window.findChild<QAction*>("actionAbout")->trigger();
    auto* dialog = window.findChild<UI_AboutDialog*>();
    ASSERT_NE(dialog, nullptr);
    auto* view = dialog->findChild<QWebView*>();
    ASSERT_NE(view, nullptr);
    dialog->hide();
    window.findChild<QAction*>("actionAbout")->trigger();
    EXPECT_EQ(window.findChildren<UI_AboutDialog*>().size(), 1);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->windowTitle(), "About Vessarine");
    EXPECT_FALSE(dialog->isModal());
    EXPECT_LE(dialog->width(), 540);
    EXPECT_LE(dialog->height(), 400);
    EXPECT_EQ(dialog->maximumSize(), QSize(540, 400));
    ASSERT_TRUE(QTest::qWaitFor([view]() {
        return evaluate(view, "document.readyState === 'complete' && document.links.length > 0").toBool();
    }));

    EXPECT_EQ(evaluate(view, "document.title").toString(), "About Vessarine");
    EXPECT_EQ(evaluate(view, "getComputedStyle(document.body).backgroundColor").toString(), "rgb(252, 252, 252)");
    EXPECT_EQ(evaluate(view, "Array.prototype.every.call(document.links, function(a) { return a.target === 'new'; })")
                  .toBool(),
              true);
    const QStringList software =
        evaluate(view, "Array.prototype.map.call(document.querySelectorAll('ul')[1].querySelectorAll('a'),"
                       " function(a) { return a.textContent; })")
            .toStringList();
    EXPECT_EQ(software, QStringList({"FLANN - Fast Library for Approximate Nearest Neighbors", "D3 - Data Driven Documents",
                                     "d3-context-menu", "d3-scale-chromatic", "Material Design Lite", "noUiSlider",
                                     "wNumb.js", "Clusterfck"}));

    // A real click on a link reaches the browser once; the page stays.
    const QVariantList box = evaluate(view, "var r = document.links[0].getBoundingClientRect();"
                                            "[r.left + r.width / 2, r.top + r.height / 2]")
                                 .toList();
    ASSERT_EQ(box.size(), 2);
    const QUrl pageUrl = view->url();
    QSignalSpy loadStarted(view, &QWebView::loadStarted);
    QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(box[0].toInt(), box[1].toInt()));
    // The click's one navigation decision either hands the link on or loads it.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !recorder.urls.isEmpty() || loadStarted.count() > 0; }, 30000));
    ASSERT_EQ(recorder.urls.size(), 1);
    EXPECT_EQ(recorder.urls[0], QUrl(evaluate(view, "document.links[0].href").toString()));
    EXPECT_EQ(view->url(), pageUrl);
    EXPECT_EQ(loadStarted.count(), 0);

    // The icon and each logo open their site on press, before any release.
    const QList<QPushButton*> buttons = dialog->findChildren<QPushButton*>();
    ASSERT_EQ(buttons.size(), 4);
    const QSize sizes[4] = {{100, 100}, {50, 50}, {129, 50}, {77, 50}};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(buttons[i]->size(), sizes[i]);
        EXPECT_FALSE(buttons[i]->icon().isNull());
        QTest::mousePress(buttons[i], Qt::LeftButton);
        EXPECT_EQ(recorder.urls.size(), i + 2);
        QTest::mouseRelease(buttons[i], Qt::LeftButton);
        EXPECT_EQ(recorder.urls.size(), i + 2);
        EXPECT_TRUE(recorder.urls.last().host().contains(".example.")) << recorder.urls.last().toString().toStdString();
    }
    QDesktopServices::unsetUrlHandler("https");

    // The logos are drawn at their button size and at twice it.
    const char* const logos[3] = {"kelborLogo", "ostrelLogo", "pellamLogo"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(QImage(QString(":/About/") + logos[i]).size(), sizes[i + 1]) << logos[i];
        EXPECT_EQ(QImage(QString(":/About/") + logos[i] + "@2x").size(), sizes[i + 1] * 2) << logos[i];
    }
}

TEST(AboutDialogTest, NeitherAReloadNorADropReplacesThePage)
{
    MainWindow window;
    window.findChild<QAction*>("actionAbout")->trigger();
    auto* dialog = window.findChild<UI_AboutDialog*>();
    ASSERT_NE(dialog, nullptr);
    auto* view = dialog->findChild<QWebView*>();
    ASSERT_TRUE(QTest::qWaitFor([view]() { return evaluate(view, "document.readyState === 'complete'").toBool(); }));
    EXPECT_FALSE(view->acceptDrops());
    QSignalSpy loadStarted(view, &QWebView::loadStarted);

    // The margin's context menu offers nothing; were "Reload" there, it is
    // chosen. A menu would run inside the event's delivery, so a timer looks.
    QStringList offered;
    QTimer popupWatch;
    QObject::connect(&popupWatch, &QTimer::timeout, [&offered]() {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        for (QAction* action : menu->actions())
            offered << action->text();
        for (QAction* action : menu->actions())
            if (action->text() == "Reload")
                action->trigger();
        menu->close();
    });
    popupWatch.start(10);
    const QPoint margin(2, view->height() - 3);
    QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, margin, view->mapToGlobal(margin));
    QApplication::sendEvent(view, &menuEvent);
    popupWatch.stop();
    EXPECT_EQ(offered, QStringList());

    // Nor does the reload key, or a file dropped on the view.
    QTest::keyClick(view, Qt::Key_Refresh);
    QMimeData dropped;
    dropped.setUrls({QUrl::fromLocalFile(QString(VESSARINE_SOURCE_DIR) + "/README.md")});
    QDragEnterEvent enter(margin, Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view, &enter);
    QDropEvent drop(margin, Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view, &drop);
    // Any of them would start a load within moments.
    EXPECT_FALSE(QTest::qWaitFor([&loadStarted]() { return loadStarted.count() > 0; }, 2000));

    // Reopened, the dialog shows the bundled page.
    dialog->hide();
    window.findChild<QAction*>("actionAbout")->trigger();
    EXPECT_EQ(evaluate(view, "document.title").toString(), "About Vessarine");
    EXPECT_EQ(view->url(), QUrl("qrc:/About/"));
}

#include "AboutDialogTest.moc"
