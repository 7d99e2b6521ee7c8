#pragma once

#include <QWidget>

class QGridLayout;
class QLabel;
class QWebView;

/// A switch (a 36 by 24 pixel page) with a label beside it. The page
/// reports clicks; the program sets the state without being told back. The
/// widget sends its state again after every page load, so the page always
/// shows it.
class UI_MaterialCheckBoxWidget : public QWidget
{
    Q_OBJECT

public:
    /// The label shows one blank before `label`.
    explicit UI_MaterialCheckBoxWidget(const QString& label, QWidget* parent = nullptr);
    ~UI_MaterialCheckBoxWidget() override;

    /// Stores the state and moves the switch; emits neither clicked nor stateChanged.
    void setChecked(bool checked);
    bool isChecked() const { return m_checked; }

signals:
    void clicked();
    /// 1 when the switch is now on, 0 when off.
    void stateChanged(int state);
    void qt_setState(bool checked);

public slots:
    void connectJs();
    /// The user flipped the switch: inverts the state, emits clicked, then stateChanged.
    void js_clicked();

private:
    void sendState(bool loaded);

    QGridLayout* m_layout = nullptr;
    QWebView* m_webView = nullptr;
    QLabel* m_label = nullptr;
    bool m_checked = false;
};
