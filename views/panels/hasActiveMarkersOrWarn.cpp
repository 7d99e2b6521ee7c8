#include "panels/hasActiveMarkersOrWarn.h"

#include "analyses/MCV_Analysis.h"

#include <QMessageBox>

bool hasActiveMarkersOrWarn(const MCV_Analysis* analysis, QWidget* parent)
{
    if (!analysis->activeMarkerIndices().empty())
        return true;
    QMessageBox::warning(parent, "No markers selected",
                         "No markers selected.\nSelect at least one marker to compute the tSNE.", QMessageBox::Ok);
    return false;
}
