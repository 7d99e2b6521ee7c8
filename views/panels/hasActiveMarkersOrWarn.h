#pragma once

class MCV_Analysis;
class QWidget;

/// The warning shown when a computation is asked for without an active
/// marker; false (after the warning) when the analysis has none.
bool hasActiveMarkersOrWarn(const MCV_Analysis* analysis, QWidget* parent);
