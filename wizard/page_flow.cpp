#include "wizard/page_flow.h"

#include <QApplication>
#include <QLabel>
#include <QThread>

#include <iostream>

#include "engine/work_files.h"
#include "wizard/frmCreatedb.h"
#include "wizard/frmGetAccess.h"
#include "wizard/frmfinal.h"
#include "wizard/frmivex.h"
#include "wizard/frmoption.h"

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

}  // namespace

PageFlow::PageFlow(MigrationSettings& settings, WizardServices services)
    : settings_(settings), services_(std::move(services)) {}

PageFlow::~PageFlow() {
  ending_ = true;  // destroying the pages is not a close by the user
  for (auto& page : pages_) page.reset();
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
  page->show();
}

void PageFlow::Hide(PageId id) {
  if (auto* page = Page(id)) page->hide();
}

WizardPage* PageFlow::Page(PageId id) const {
  return pages_[static_cast<std::size_t>(id)].get();
}

int PageFlow::StartCommandFile(const std::string& windowsPath) {
  const int task = services_.commands.StartCommandFile(windowsPath);
  tasks_.emplace_back(task, windowsPath);
  return task;
}

void PageFlow::WaitForCommandFiles() {
  QLabel* notice = nullptr;
  for (const auto& [task, file] : tasks_) {
    if (!services_.commands.IsRunning(task)) continue;
    if (notice == nullptr) {
      notice = new QLabel;
      notice->setObjectName("WaitForCommandFiles");
      notice->setWindowTitle(QApplication::applicationDisplayName());
      notice->setMargin(24);
    }
    notice->setText(QString::fromStdString("Waiting for " + file +
                                           " to finish before the work files are removed ..."));
    notice->show();
    while (services_.commands.IsRunning(task)) {
      QApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 50);
      QThread::msleep(20);
    }
  }
  delete notice;
}

void PageFlow::CloseStep() {
  if (ending_) return;
  ending_ = true;
  WaitForCommandFiles();
  EndOnce end(services_.programEnd);
  platform::FailureLog failures;
  engine::RemoveWorkFiles(settings_, end, failures);
  for (const auto& f : failures)
    std::cerr << "norvane-wizard: " << f.context << ": " << f.description << '\n';
  end.EndProgram();
}

}  // namespace wizard
