#pragma once

#include "framework/UI_DockableWidget.h"

class QTextBrowser;

/// The "File Information" dock: a read-only browser showing the description
/// of the loaded files.
class UI_FileInfoWidget : public UI_DockableWidget
{
    Q_OBJECT

public:
    explicit UI_FileInfoWidget(QWidget* parent = nullptr);

    /// Replaces the shown text. Always plain text: file names and keyword
    /// values come from files and may contain markup characters.
    void setText(const QString& text);

private:
    QTextBrowser* m_textBrowser = nullptr;
};
