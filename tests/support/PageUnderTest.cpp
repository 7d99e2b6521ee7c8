#include "support/PageUnderTest.h"

#include "web/PageBridge.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTest>
#include <QWebFrame>
#include <QWebPage>
#include <QWebView>
#include <gtest/gtest.h>

namespace {

// js_debug lines reach the debug stream, not the page: every live object
// records them.
QList<PageUnderTest*>& livePages()
{
    static QList<PageUnderTest*> pages;
    return pages;
}

// Objects waiting for the next view PageBridge sets up, first come first served.
QList<PageUnderTest*>& waitingPages()
{
    static QList<PageUnderTest*> pages;
    return pages;
}

QtMessageHandler previousHandler = nullptr;

const QString kDebugPrefix = QStringLiteral("Javascript Debug Info: ");

// Forwards console lines and uncaught errors of the page to the recorder,
// which the page sees as "__pageTest".
const char* const kRecorderScript = R"(
(function () {
    var recorder = window.__pageTest;
    ['log', 'info', 'warn', 'error', 'debug'].forEach(function (level) {
        var original = console[level];
        console[level] = function () {
            recorder.recordConsole(level, Array.prototype.map.call(arguments, String).join(' '));
            if (original)
                original.apply(console, arguments);
        };
    });
    window.addEventListener('error', function (event) {
        recorder.recordError(String(event.message), String(event.filename || ''), event.lineno || 0);
    });
})();
)";

} // namespace

void PageUnderTest::messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtDebugMsg && message.startsWith(kDebugPrefix))
        for (PageUnderTest* page : livePages())
            page->m_messages << QStringLiteral("js_debug: ") + message.mid(kDebugPrefix.size());
    if (previousHandler)
        previousHandler(type, context, message);
}

PageUnderTest::PageUnderTest()
{
    if (waitingPages().isEmpty())
        PageBridge::setViewObserver([](QWebView* view) {
            for (PageUnderTest* page : livePages())
                if (page->m_view == view)
                    return;
            if (waitingPages().isEmpty())
                return;
            PageUnderTest* page = waitingPages().takeFirst();
            page->m_view = view;
            page->attach();
        });
    waitingPages() << this;
}

PageUnderTest::PageUnderTest(QWebView* view)
    : m_view(view)
{
    attach();
}

PageUnderTest::PageUnderTest(const QString& html, const QString& baseUrl, QObject* host)
    : m_view(new QWebView())
    , m_ownsView(true)
{
    attach();
    PageBridge::setUpView(m_view);
    if (host)
        PageBridge::connectHost(m_view, host);
    m_view->resize(800, 600);
    m_view->show();
    m_view->setHtml(html, QUrl(baseUrl));
}

PageUnderTest::~PageUnderTest()
{
    waitingPages().removeOne(this);
    if (waitingPages().isEmpty())
        PageBridge::setViewObserver(nullptr);
    const bool attached = livePages().removeOne(this);
    if (attached && livePages().isEmpty())
        qInstallMessageHandler(previousHandler);
    if (!attached)
        ADD_FAILURE() << "no view was set up for the page under test";
    if (!m_scriptErrors.isEmpty())
        ADD_FAILURE() << "script errors in the page:\n" << m_scriptErrors.join("\n").toStdString();
    if (m_ownsView)
        delete m_view;
}

void PageUnderTest::attach()
{
    if (livePages().isEmpty())
        previousHandler = qInstallMessageHandler(messageHandler);
    livePages() << this;
    QWebFrame* frame = m_view->page()->mainFrame();
    connect(frame, &QWebFrame::javaScriptWindowObjectCleared, this, &PageUnderTest::installRecorder);
    connect(m_view, &QWebView::loadFinished, this, [this](bool ok) {
        ++m_loadsFinished;
        m_lastLoadOk = ok;
    });
}

void PageUnderTest::installRecorder()
{
    QWebFrame* frame = m_view->page()->mainFrame();
    frame->addToJavaScriptWindowObject(QStringLiteral("__pageTest"), this);
    frame->evaluateJavaScript(QString::fromLatin1(kRecorderScript));
}

bool PageUnderTest::waitForLoad(int timeoutMs)
{
    if (!m_view)
        return false;
    QElapsedTimer timer;
    timer.start();
    while (m_loadsFinished <= m_loadsWaitedFor && timer.elapsed() < timeoutMs)
        QTest::qWait(10);
    if (m_loadsFinished <= m_loadsWaitedFor)
        return false;
    m_loadsWaitedFor = m_loadsFinished;
    return m_lastLoadOk;
}

QVariant PageUnderTest::evaluate(const QString& script)
{
    const QString wrapped = QStringLiteral("(function () { try { return eval(%1); } catch (error) {"
                                           " window.__pageTest.recordError('evaluate: ' + error, %1, 0); } })()")
                                .arg(jsString(script));
    return m_view->page()->mainFrame()->evaluateJavaScript(wrapped);
}

bool PageUnderTest::waitFor(const QString& condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!evaluate(condition).toBool()) {
        if (timer.elapsed() >= timeoutMs)
            return false;
        QTest::qWait(10);
    }
    return true;
}

void PageUnderTest::settle()
{
    evaluate("window.__pageTestFrames = 0; requestAnimationFrame(function () { ++window.__pageTestFrames;"
             " requestAnimationFrame(function () { ++window.__pageTestFrames; }); });");
    EXPECT_TRUE(waitFor("window.__pageTestFrames === 2")) << "the page drew no frames";
}

QRect PageUnderTest::elementRect(const QString& selector)
{
    settle();
    const QVariantList box = evaluate(QStringLiteral("(function () { var element = document.querySelector(%1);"
                                                     " if (!element) return [];"
                                                     " var r = element.getBoundingClientRect();"
                                                     " return [r.left, r.top, r.width, r.height]; })()")
                                          .arg(jsString(selector)))
                                 .toList();
    if (box.size() != 4)
        return QRect();
    return QRectF(box[0].toDouble(), box[1].toDouble(), box[2].toDouble(), box[3].toDouble()).toRect();
}

QPoint PageUnderTest::elementPoint(const QString& selector, QPoint offset)
{
    const QRect rect = elementRect(selector);
    EXPECT_FALSE(rect.isEmpty()) << "no element " << selector.toStdString();
    return rect.center() + offset;
}

void PageUnderTest::sendMouse(int type, QPoint point, Qt::MouseButton button, Qt::KeyboardModifiers modifiers,
                              bool thenProcessEvents)
{
    const Qt::MouseButtons held = m_leftHeld ? Qt::LeftButton : Qt::NoButton;
    QMouseEvent event(static_cast<QEvent::Type>(type), point, m_view->mapToGlobal(point), button, held, modifiers);
    QApplication::sendEvent(m_view, &event);
    if (thenProcessEvents)
        QApplication::processEvents();
}

void PageUnderTest::press(QPoint point, Qt::KeyboardModifiers modifiers)
{
    m_leftHeld = true;
    sendMouse(QEvent::MouseButtonPress, point, Qt::LeftButton, modifiers, true);
}

void PageUnderTest::move(QPoint point, Qt::KeyboardModifiers modifiers)
{
    sendMouse(QEvent::MouseMove, point, Qt::NoButton, modifiers, true);
}

void PageUnderTest::release(QPoint point, Qt::KeyboardModifiers modifiers)
{
    m_leftHeld = false;
    sendMouse(QEvent::MouseButtonRelease, point, Qt::LeftButton, modifiers, true);
}

void PageUnderTest::click(const QString& selector, Qt::KeyboardModifiers modifiers)
{
    const QPoint point = elementPoint(selector);
    move(point, modifiers);
    // Nothing runs between press and release, so an animation the press
    // starts cannot move another element under the release.
    m_leftHeld = true;
    sendMouse(QEvent::MouseButtonPress, point, Qt::LeftButton, modifiers, false);
    release(point, modifiers);
}

void PageUnderTest::drag(const QString& selector, QPoint delta, int steps)
{
    const QPoint start = elementPoint(selector);
    move(start);
    press(start);
    for (int step = 1; step <= steps; ++step)
        move(start + delta * step / steps);
    release(start + delta);
}

void PageUnderTest::type(const QString& selector, const QString& text)
{
    evaluate(QStringLiteral("var field = document.querySelector(%1); field.focus(); field.select();")
                 .arg(jsString(selector)));
    m_view->setFocus();
    // Key events that carry their text: QTest::keyClicks takes Latin-1 only.
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(m_view, &press);
        QApplication::sendEvent(m_view, &release);
    }
    QTest::keyClick(m_view, Qt::Key_Return);
    QApplication::processEvents();
}

QStringList PageUnderTest::takeScriptErrors()
{
    QStringList errors;
    errors.swap(m_scriptErrors);
    return errors;
}

QString PageUnderTest::jsString(const QString& text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    // JSON leaves the line separators raw; a script literal may not hold them.
    return QString::fromUtf8(array.mid(1, array.size() - 2))
        .replace(QChar(0x2028), QStringLiteral("\\u2028"))
        .replace(QChar(0x2029), QStringLiteral("\\u2029"));
}

void PageUnderTest::recordConsole(const QString& level, const QString& text)
{
    m_messages << QStringLiteral("console.%1: %2").arg(level, text);
    if (level == QLatin1String("error"))
        m_scriptErrors << QStringLiteral("console.error: ") + text;
}

void PageUnderTest::recordError(const QString& message, const QString& url, int line)
{
    const QString entry = QStringLiteral("error: %1 (%2:%3)").arg(message, url).arg(line);
    m_messages << entry;
    m_scriptErrors << entry;
}
