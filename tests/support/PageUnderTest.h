#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QStringList>
#include <QVariant>

#include <QWebView>

/// Drives one page in a QWebView for tests: waits for its loads, evaluates
/// scripts, finds elements by getBoundingClientRect and presses, moves and
/// releases the mouse on them with real mouse events, and records what the
/// page says: console lines, the hosts' js_debug lines and script errors.
/// An unexpected script error (an uncaught exception or console.error) fails
/// the running test when the object goes.
///
///     PageUnderTest page;                // takes the next view PageBridge sets up
///     UI_DualSliderWidget slider;        // sets up its view and loads its page
///     slider.show();
///     ASSERT_TRUE(page.waitForLoad());
///     page.drag(".noUi-handle-lower", QPoint(30, 0), 3);
///     EXPECT_EQ(page.evaluate("_values[0]").toDouble(), ...);
///
/// A page may finish loading inside the widget's constructor (the bundle's
/// files are cached after their first use), so a test creates this object
/// first. Several waiting objects take the views in the order they are set up.
class PageUnderTest : public QObject
{
    Q_OBJECT

public:
    /// Watches the next view that PageBridge::setUpView prepares, from its
    /// first load on.
    PageUnderTest();
    /// Watches a view that has loaded already; later loads are seen whole.
    explicit PageUnderTest(QWebView* view);
    /// A shown 800 by 600 view of its own, set up as the program's views are,
    /// with `host` (null: none, as in an ordinary browser) offered as "Qt"
    /// through its connectJs() slot, loading `html` with the base URL.
    PageUnderTest(const QString& html, const QString& baseUrl, QObject* host);
    ~PageUnderTest() override;

    /// The watched view; null until a view was set up.
    QWebView* view() const { return m_view; }

    /// Waits for a load to finish that this object has not waited for yet;
    /// false when it failed or none finished in time.
    bool waitForLoad(int timeoutMs = 10000);
    /// The result of a script (an expression or statements) in the page; a
    /// script that throws records a script error.
    QVariant evaluate(const QString& script);
    /// Waits until the script gives true; false when it did not in time.
    bool waitFor(const QString& condition, int timeoutMs = 5000);

    /// Waits until the page has drawn two animation frames, so updates that
    /// scripts deferred to the next frame have been made.
    void settle();
    /// The first matching element's box in view coordinates, after settle();
    /// empty when none.
    QRect elementRect(const QString& selector);
    /// The centre of the element's box, moved by `offset`.
    QPoint elementPoint(const QString& selector, QPoint offset = QPoint());

    void press(QPoint point, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    /// Moves the mouse, with the left button held while pressed.
    void move(QPoint point, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    void release(QPoint point, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    /// Press and release at the element's centre, with nothing run between them.
    void click(const QString& selector, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    /// Presses at the element's centre, moves by `delta` in `steps` equal
    /// moves, releases there.
    void drag(const QString& selector, QPoint delta, int steps);
    /// Focuses the field, selects its text, types `text` with real key
    /// presses (each carrying its character, so any text can be typed) and
    /// presses Enter.
    void type(const QString& selector, const QString& text);

    /// Every line in arrival order: "console.<level>: text", "js_debug: text",
    /// "error: message (url:line)".
    QStringList messages() const { return m_messages; }
    QStringList scriptErrors() const { return m_scriptErrors; }
    /// Returns the script errors and forgets them (for tests that cause one).
    QStringList takeScriptErrors();

    /// The text as a script string literal.
    static QString jsString(const QString& text);

public slots:
    // Called by the page's recorder script.
    void recordConsole(const QString& level, const QString& text);
    void recordError(const QString& message, const QString& url, int line);

private:
    void attach();
    void installRecorder();
    void sendMouse(int type, QPoint point, Qt::MouseButton button, Qt::KeyboardModifiers modifiers,
                   bool thenProcessEvents);
    static void messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message);

    QPointer<QWebView> m_view;
    bool m_ownsView = false;
    int m_loadsFinished = 0;
    int m_loadsWaitedFor = 0;
    bool m_lastLoadOk = false;
    bool m_leftHeld = false;
    QStringList m_messages;
    QStringList m_scriptErrors;
};
