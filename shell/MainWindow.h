#pragma once

#include <QMainWindow>

#include <string>
#include <vector>

class MCV_Analysis;
class MCV_DataRegistry;
class MCV_DerivedDataExploration;
class MCV_HsneAnalysis;
class MCV_HsneAnalysisHierarchy;
class QCheckBox;
class QDialog;
class QDockWidget;
class UI_AboutDialog;
class UI_DockableContainerWidget;
class UI_DockableWidget;
class UI_ExpanderWidget;
class UI_FileInfoWidget;
class UI_Interface;
class UI_MarkerSelectionWidget;
class UI_Settings;
class UI_SpadeWidget;
class UI_SettingsWidget;
class UI_TsneWidget;
class Ui_MainWindow;

/// The program's one top-level window. It has no central widget: every view
/// lives in a dock. It owns the analyses, the view docks and the settings
/// panels in three separate lists (each in creation order, not
/// index-parallel: a view dock belongs to the analysis whose name is its
/// window title), and the notification object through which the core
/// reports changes.
///
/// The commands live in five sources: MainWindow.cpp (window, docks, views,
/// notifications), MainWindowOpenFile.cpp (opening files and the post-load
/// dialog), MainWindowAnalyses.cpp (creating, choosing and removing
/// analyses), MainWindowTemplate.cpp (the template-matching analysis from a
/// table file) and MainWindowHsne.cpp (the hierarchical SNE's hierarchy,
/// levels and exploration page).
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    /// Destroys every analysis, view dock and settings panel (in list order),
    /// then stops the update checker.
    ~MainWindow() override;

    /// `base` when no analysis of the window bears it, else `base` followed by
    /// a blank and the first free number 1, 2, ...
    QString makeUniqueAnalysisName(const QString& base) const;
    /// Appends an analysis to the window's list: the window owns it from now on.
    void addAnalysis(MCV_Analysis* analysis);
    /// A hierarchical SNE under a unique form of `name` on "All Points": its
    /// settings tab, exploration page, exploration set and overview level
    /// view (MainWindowHsne.cpp). Null without files.
    MCV_HsneAnalysisHierarchy* createHsneAnalysis(const QString& name);

public slots:
    void advertiseNewData();
    void advertiseNewDimensions();
    void removeAnalyses(std::vector<std::string>* analysisNames);
    void openFile();
    void classifyData();
    void checkForUpdatesTriggered();
    void aboutTriggered();
    void asinhCheckBoxClicked(bool checked = false);
    void exportSpadeTree();
    void fileInfoViewTriggered();
    void settingsViewTriggered();
    void heatMapViewTriggered();
    void scatterPlotViewTriggered();
    void spadeViewTriggered();
    void newSpadeAnalysisTriggered();
    void newTsneAnalysisTriggered();
    void activeMarkerChanged(int marker, int state);
    void deleteAnalysis(void* analysis);
    /// A level one scale below `parent` of the landmarks, named "<hierarchy> - Scale k".
    void newHsneLevel(MCV_HsneAnalysis* parent, MCV_HsneAnalysisHierarchy* hierarchy,
                      std::vector<unsigned>* landmarks);
    /// A level of a cluster of a level's clusters set, named `name`; a level
    /// of that name is raised instead.
    void newHsneLevelFromCluster(MCV_DerivedDataExploration* exploration, const QString& name,
                                 const QString& clustersName, int clusterIndex, const QString& parentName,
                                 int marker);
    /// Raises the view titled `name`, a level's coloured by `marker` when it is >= 0.
    void raiseView(const QString& name, int marker);

protected:
    /// Asks every analysis to go (requestDeletion): a running loop ends at its
    /// next iteration and hands its analysis back through readyForDeletionSignal.
    void closeEvent(QCloseEvent* event) override;

private:
    void createSettingsDock();
    void connectInterfaceSignals();
    /// Applies the three action flags to their actions.
    void updateActionStates();
    /// After files were reopened: every settings panel chooses its input and
    /// lists its markers anew, the analyses' marker flags and the file
    /// information follow the new channels, and every view dock its files.
    void followLoadedFiles();
    /// Shows the merged header's description in the file-information dock,
    /// when both the dock and loaded data exist.
    void refreshFileInfo();
    /// True when files are loaded; otherwise says so in a line.
    bool hasLoadedData() const;
    /// Builds the post-load dialog of a completed load and runs it; its
    /// result: 0 "OK" or closed, 1 "Start SPADE", 2 "Start A-tSNE".
    int runPostLoadDialog();
    /// Writes the registry's load log to "VSRNE_ST.txt" in the directory
    /// through ReplacingFile::writeAll: a failed write keeps the old file
    /// and prints a line.
    void writeSampleTagFile(const QString& directory);

    // The parts every analysis command is made of (MainWindowAnalyses.cpp).
    /// Name prompt of a new analysis of `kind` ("Spade", "A-tSNE"): the
    /// unique form of the answer; empty without files or on cancel.
    QString askAnalysisName(const QString& baseName, const QString& kind);
    /// Titles the dock with the analysis' name (the link by which removal
    /// finds it), docks it on the right, shows it and lists it.
    void addViewDock(UI_DockableWidget* dock, const MCV_Analysis* analysis);
    /// Adds the panel as a "Settings" tab titled with the analysis' name and lists it.
    void addSettingsPanel(UI_SettingsWidget* panel, const MCV_Analysis* analysis);
    /// The analysis of `analysisType` that a further view should show: the
    /// only one without asking, else the one chosen in the analysis chooser;
    /// null when there is none or the chooser was cancelled.
    MCV_Analysis* chooseAnalysis(int analysisType);
    /// The six notifications a t-SNE view follows.
    void connectTsneView(UI_TsneWidget* dock);
    /// The notifications a SPADE view follows (a slave also takes the
    /// master's positions), and its new bubbles' announcement.
    void connectSpadeView(UI_SpadeWidget* dock);
    /// Takes the dock or panel out of the window at once (disconnected,
    /// without its analysis, hidden, out of the list) and frees it once the
    /// event loop is back: a press of one of its buttons may be on the stack.
    void releaseViewDock(QDockWidget* dock);
    void releaseSettingsPanel(UI_SettingsWidget* panel);
    /// Lists the level, gives it a view dock wired to the notifications, the
    /// drills and its hierarchy's clustering controls; with `run` attaches it
    /// to the hierarchy and runs it.
    void showHsneLevel(MCV_HsneAnalysis* level, bool run);

    Ui_MainWindow* m_ui = nullptr;
    UI_Settings* m_settings = nullptr;
    UI_Interface* m_uiInterface = nullptr;
    UI_FileInfoWidget* m_fileInfoWidget = nullptr;
    UI_DockableContainerWidget* m_settingsDock = nullptr;
    MCV_DataRegistry* m_dataRegistry = nullptr;
    std::vector<MCV_Analysis*> m_analyses;
    std::vector<QDockWidget*> m_viewDocks;
    std::vector<UI_SettingsWidget*> m_settingsPanels;
    QDialog* m_postLoadDialog = nullptr;
    QCheckBox* m_sampleTagCheckBox = nullptr;
    QCheckBox* m_asinhCheckBox = nullptr;
    UI_ExpanderWidget* m_asinhExpander = nullptr;
    UI_MarkerSelectionWidget* m_asinhMarkerPanel = nullptr;
    UI_AboutDialog* m_aboutDialog = nullptr;
    bool m_exportEnabled = true;
    bool m_newSpadeEnabled = false;
    bool m_newTsneEnabled = false;
};
