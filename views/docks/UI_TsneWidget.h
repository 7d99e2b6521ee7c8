#pragma once

#include "docks/UI_EmbeddingViewWidget.h"

class MCV_TsneAnalysis;

/// The dock that shows one A-tSNE analysis' embedding while it converges
/// and keeps the shown selection and the registry's "Selection" set in step.
///
/// The view never keeps a pointer or a size of the analysis' buffers across
/// a notification: every slot reads what it needs from the analysis anew.
/// The "Selection" set is fetched from the live registry each time, and the
/// analysis' points count only while they come from the live registry.
class UI_TsneWidget : public UI_EmbeddingViewWidget
{
    Q_OBJECT

public:
    /// With an analysis the dock holds a scatterplot of it, shown from the
    /// first initComputation on.
    UI_TsneWidget(QWidget* parent, MCV_Analysis* analysis);

public slots:
    void initComputation(void* analysis);
    /// After every iteration: the user interface runs in here.
    void computationUpdated(void* analysis);
    void computationFinished(void* analysis);
    /// The selected embedded points of the samples the sample panel shows.
    void scatterplotSelectionUpdated() override;

private:
    /// The analysis as an A-tSNE analysis; null when detached or of another type.
    MCV_TsneAnalysis* tsneAnalysis() const;
    void syncSelectionFromRegistry(MCV_DerivedDataPoints* selection) override;
};
