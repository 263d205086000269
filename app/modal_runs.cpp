#include "app/modal_runs.h"

#include <algorithm>

#include "app/modal_window.h"

namespace zb {

ModalWindow* ModalRuns::Active() const {
  for (auto it = m_runs.rbegin(); it != m_runs.rend(); ++it)
    if (it->window) return it->window;
  return nullptr;
}

bool ModalRuns::HasRunAbove(const ModalWindow* window) const {
  auto it = std::find_if(m_runs.begin(), m_runs.end(),
                         [window](const Run& r) { return r.window == window; });
  return it != m_runs.end() && it + 1 != m_runs.end();
}

void ModalRuns::End(const Run& run, int result) {
  if (run.window)
    run.window->EndModal(result);
  else if (run.box)
    gtk_dialog_response(run.box, GTK_RESPONSE_DELETE_EVENT);
}

void ModalRuns::EndAllRuns(int result) {
  m_ending = true;
  // Ending a run only quits its loop or answers its box: the stack changes
  // once the loops return, after this.
  for (auto it = m_runs.rbegin(); it != m_runs.rend(); ++it) End(*it, result);
}

void ModalRuns::EndRunsAbove(const ModalWindow* window) {
  auto at = std::find_if(m_runs.begin(), m_runs.end(),
                         [window](const Run& r) { return r.window == window; });
  if (at == m_runs.end()) return;
  const std::vector<Run> above(at + 1, m_runs.end());
  for (auto it = above.rbegin(); it != above.rend(); ++it) End(*it, 2);
}

bool ModalRuns::PageDialogRunning() const {
  return std::any_of(m_runs.begin(), m_runs.end(), [](const Run& r) {
    return r.window && r.window->Kind() == TitleBarKind::kPageDialog;
  });
}

void ModalRuns::EnterWindow(ModalWindow* window) {
  m_runs.push_back(Run{window, nullptr});
}

void ModalRuns::LeaveWindow(const ModalWindow* window) {
  auto it = std::find_if(m_runs.rbegin(), m_runs.rend(),
                         [window](const Run& r) { return r.window == window; });
  if (it != m_runs.rend()) m_runs.erase(std::next(it).base());
}

ModalRuns::BoxGuard::BoxGuard(ModalRuns& runs, GtkDialog* box) : m_runs(runs), m_box(box) {
  m_runs.m_runs.push_back(Run{nullptr, box});
}

ModalRuns::BoxGuard::~BoxGuard() {
  auto& stack = m_runs.m_runs;
  auto it = std::find_if(stack.rbegin(), stack.rend(),
                         [this](const Run& r) { return !r.window && r.box == m_box; });
  if (it != stack.rend()) stack.erase(std::next(it).base());
}

}  // namespace zb
