#include "wizard/page_flow.h"

#include <QApplication>

#include <iostream>

#include "engine/work_files.h"
#include "options/page_rules.h"
#include "platform/ui/window_placement.h"
#include "wizard/command_file_wait.h"
#include "wizard/frmCreatedb.h"
#include "wizard/frmGetAccess.h"
#include "wizard/frmfinal.h"
#include "wizard/frmivex.h"
#include "wizard/frmoption.h"
#include "wizard/frmtarget.h"

namespace wizard {
namespace {

// Ends the program once, however many steps ask for it.
class EndOnce : public platform::ProgramEnd {
 public:
  explicit EndOnce(platform::ProgramEnd& inner) : inner_(inner) {}
  void EndProgram() override {
    if (!ended_) inner_.EndProgram();
    ended_ = true;
  }

 private:
  platform::ProgramEnd& inner_;
  bool ended_ = false;
};

// For the folders before the last: their removal does not end the program.
class NoEnd : public platform::ProgramEnd {
 public:
  void EndProgram() override {}
};

// The messages and questions of the pages, their paths in POSIX form.
class ShownDialogs : public platform::Dialogs {
 public:
  ShownDialogs(platform::Dialogs& inner, const MigrationSettings& settings)
      : inner_(inner), settings_(settings) {}
  void Message(const std::string& text) override { inner_.Message(ShownText(text, settings_)); }
  bool Question(const std::string& text) override {
    return inner_.Question(ShownText(text, settings_));
  }
  std::optional<platform::FileChoice> OpenFile(const std::string& filter) override {
    return inner_.OpenFile(filter);
  }
  std::optional<std::string> SaveFile(const std::string& filter,
                                      const std::string& suggestedName) override {
    return inner_.SaveFile(filter, suggestedName);
  }
  void ShowHelp(const std::string& helpFile, const std::string& keyword) override {
    inner_.ShowHelp(helpFile, keyword);
  }
  void RegisterProgramHelp(const std::string& helpFile) override {
    inner_.RegisterProgramHelp(helpFile);
  }
  void SetBusyPointer(bool busy) override { inner_.SetBusyPointer(busy); }

 private:
  platform::Dialogs& inner_;
  const MigrationSettings& settings_;
};

}  // namespace

PageFlow::PageFlow(MigrationSettings& settings, WizardServices services)
    : settings_(settings),
      services_(std::move(services)),
      shownDialogs_(std::make_unique<ShownDialogs>(services_.dialogs, settings_)) {}

PageFlow::~PageFlow() {
  ending_ = true;  // destroying the pages is not a close by the user
  for (auto& page : pages_) page.reset();
}

engine::FlowServices PageFlow::FlowServicesOfPages() {
  // The results check may be given after the pages are made: it is asked for at each use.
  engine::FlowServices flow{
      .commands = *this,
      .runEngine = services_.makeEngine,
      .accessEngine = services_.makeEngine,
      .verifier = [this]() -> reporting::MigrationVerifier* {
        return resultsCheck_ ? &resultsCheck_->verifier : nullptr;
      },
      .targetInspector = services_.targetInspector,
      .rowsBreaking = services_.rowsBreaking,
      .linkedTables = services_.linkedTables,
      .toolErrors =
          [this](int task) {
            return resultsCheck_ ? resultsCheck_->toolErrors(task) : std::vector<std::string>();
          },
      .targetConnection =
          [this] { return resultsCheck_ ? resultsCheck_->targetConnection() : std::string(); },
      .serverDatabases = services_.serverDatabases,
  };
  return flow;
}

void PageFlow::Show(PageId id) {
  auto& page = pages_[static_cast<std::size_t>(id)];
  if (!page) {
    switch (id) {
      case PageId::Option:
        page = std::make_unique<frmoption>(*this);
        break;
      case PageId::GetAccess:
        page = std::make_unique<frmGetAccess>(*this);
        break;
      case PageId::Target:
        page = std::make_unique<frmtarget>(*this);
        break;
      case PageId::Ivex:
        page = std::make_unique<frmivex>(*this);
        break;
      case PageId::Createdb:
        page = std::make_unique<frmCreatedb>(*this);
        break;
      case PageId::Final:
        page = std::make_unique<frmfinal>(*this);
        break;
    }
  }
  if (!page->isVisible()) Place(*page);
  page->Arrive();
  page->show();
  lastFrame_ = page->frameGeometry();
  lastSize_ = page->size();
}

void PageFlow::Place(WizardPage& page) {
  QWidget* before = nullptr;
  for (auto& p : pages_)
    if (p && p.get() != &page && p->isVisible()) before = p.get();
  if (before != nullptr) {
    lastFrame_ = before->frameGeometry();
    lastSize_ = before->size();
  }
  const QSize size =
      (lastSize_.isValid() ? lastSize_ : page.size()).expandedTo(page.minimumSizeHint());
  page.resize(size);
  const QRect screen = platform::ui::AvailableScreenArea(before != nullptr ? before : &page);
  const QSize frame = before != nullptr ? size + (before->frameGeometry().size() - before->size())
                                        : platform::ui::FrameSizeOf(&page);
  const QRect place = lastFrame_.isValid() ? QRect(lastFrame_.topLeft(), frame)
                                           : platform::ui::CentredOn(frame, screen);
  page.move(platform::ui::KeepOnScreen(place, screen).topLeft());
}

void PageFlow::Hide(PageId id) {
  if (auto* page = Page(id)) page->hide();
}

WizardPage* PageFlow::Page(PageId id) const {
  return pages_[static_cast<std::size_t>(id)].get();
}

QWidget* PageFlow::VisiblePage() const {
  for (const auto& page : pages_)
    if (page && page->isVisible()) return page.get();
  return nullptr;
}

int PageFlow::StartCommandFile(const std::string& windowsPath) {
  NoteWorkFolder();
  const int task = services_.commands.StartCommandFile(windowsPath);
  tasks_.emplace_back(task, windowsPath);
  return task;
}

bool PageFlow::LastCommandFileRunning() {
  return !tasks_.empty() && services_.commands.IsRunning(tasks_.back().first);
}

int PageFlow::LastCommandFileExit() {
  return tasks_.empty() ? -1 : services_.commands.Wait(tasks_.back().first);
}

void PageFlow::NoteWorkFolder() {
  if (settings_.WorkFolder.empty()) return;
  for (auto& known : workFolders_) {
    if (known.WorkFolder == settings_.WorkFolder) {
      known = settings_;
      return;
    }
  }
  workFolders_.push_back(settings_);
}

void PageFlow::NoteCheckStops(const std::string& accessPath, bool stops) {
  checkStops_[accessPath] = stops;
}

bool PageFlow::CheckStops(const std::string& accessPath) const {
  const auto it = checkStops_.find(accessPath);
  return it != checkStops_.end() && it->second;
}

void PageFlow::CloseStep() {
  if (ending_) return;
  ending_ = true;
  EndOnce end(services_.programEnd);
  NoteWorkFolder();  // the folder chosen last, also when nothing was written there yet
  if (!WaitForCommandFiles(*this, tasks_)) {
    std::string folders;
    for (const auto& written : workFolders_)
      folders += (folders.empty() ? "" : ", ") + ShownPath(written.WorkFolder);
    dialogs().Message("The work files were left in " + folders +
                      ": a command file was still running.");
    end.EndProgram();
    return;
  }
  platform::FailureLog failures;
  NoEnd notYet;
  for (const auto& written : workFolders_) {
    platform::ProgramEnd& after =
        &written == &workFolders_.back() ? static_cast<platform::ProgramEnd&>(end) : notYet;
    engine::RemoveWorkFiles(written, after, failures);
  }
  if (workFolders_.empty()) engine::RemoveWorkFiles(settings_, end, failures);
  for (const auto& f : failures)
    std::cerr << "norvane-wizard: " << f.context << ": " << f.description << '\n';
  end.EndProgram();
}

}  // namespace wizard
