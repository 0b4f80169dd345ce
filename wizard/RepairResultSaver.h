#pragma once
// The wizard's repaired result between the end of a run and leaving the
// result page: the finished job that holds the temporary table, saving it
// (as often as the user likes) into a folder the user picks, whether it
// has been handled (saved or declined), the leave guard, and discarding it.
//
// The job keeps the temporary table's location from its run, so a source
// moved or deleted meanwhile does not lose the result. GUI thread only.

#include <QObject>
#include <QString>

#include <memory>
#include <string>

class CRepairJob;
class IWizardView;

class CRepairResultSaver : public QObject {
    Q_OBJECT
public:
    // Title of the folder dialog of saving.
    static constexpr const char* kSaveFolderTitle = "Please select the path to Save the files";

    explicit CRepairResultSaver(IWizardView& view);
    // A result still held goes with its job.
    ~CRepairResultSaver() override;

    // A run starts: the last result is dropped (nothing may delete the
    // temporary table the new run writes) and the coming one is unhandled.
    void BeginRun();
    // A run ended: its job is kept when it is "Done", else dropped.
    void TakeResult(std::shared_ptr<CRepairJob> spJob);

    // True when a repaired result waits on the result page and no run is
    // going: the Save commands are enabled only then.
    bool CanSave() const;
    // The temporary table of the last "Done" run; empty when there is none.
    const std::string& GetResultPath() const;
    // False while a repaired result waits to be saved or declined.
    bool IsResultHandled() const { return m_bResultHandled; }
    void SetResultHandled(bool bHandled) { m_bResultHandled = bHandled; }

    // The Save command: on the result page and with no run going only.
    void OnSaveFile();
    bool ChooseFolderAndSave();
    // Asks about an unsaved result; false when the user stays.
    bool ConfirmLeaveResults();
    void SaveRepairedFiles(const QString& strFolder);
    // Deletes the temporary result and says which file stayed behind.
    void DiscardRepairedFiles();

signals:
    // CanSave() may have changed.
    void resultChanged();

private:
    IWizardView& m_view;
    std::shared_ptr<CRepairJob> m_spJob;
    bool m_bResultHandled = true;
};
