#pragma once

#include <QWebView>

/// A 24 by 24 pixel spinning ring (a page without script) that its owner
/// shows while a computation runs. Transparent around the ring.
class UI_ProgressSpinnerWidget : public QWebView
{
    Q_OBJECT

public:
    explicit UI_ProgressSpinnerWidget(QWidget* parent = nullptr);
};
