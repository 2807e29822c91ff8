#include "app/run/run_list.h"

#include "app/tasks/catalogue.h"
#include "app/tasks/settings_document.h"
#include "app/tasks/stored_rules.h"
#include "platform/run_log.h"

namespace tarvex::app {

namespace {
bool removable(const std::string& state) {
    return state == kStateStopped || state == kStateWaiting;
}
}  // namespace

RunList::RunList(RunnerServices services, SlotViewModel& slots, TaskLookup lookup)
    : m_s(std::move(services)), m_slots(slots), m_lookup(std::move(lookup)) {
    m_s.runList = this;
}

RunList::~RunList() = default;

void RunList::setOnChanged(std::function<void()> fn) {
    std::lock_guard<std::mutex> g(m_lock);
    m_onChanged = std::move(fn);
}

void RunList::changed() {
    std::function<void()> fn;
    {
        std::lock_guard<std::mutex> g(m_lock);
        fn = m_onChanged;
    }
    if (fn) fn();
}

void RunList::message(const std::string& text) {
    if (m_s.dialogs) m_s.dialogs->message(text, platform::kAppTitle);
}

bool RunList::AddToRunList(std::int64_t taskId, const std::string& name) {
    int slot = 0;
    {
        std::unique_lock<std::mutex> g(m_lock);
        if (m_rows.size() >= static_cast<std::size_t>(ProcessState::kMaxRunRows)) {
            g.unlock();
            message("任务太多，空间太窄，放不下啦^_^!");
            return false;
        }
        for (int s = 1; s <= ProcessState::kSlots; ++s) {
            if (m_pages[static_cast<std::size_t>(s)].shown && m_pages[static_cast<std::size_t>(s)].caption == name) {
                g.unlock();
                message("已存在任务列表");
                return false;
            }
        }
        // One row per task: a renamed task keeps its id, and two rows of one id would run the
        // task twice at once over one database.
        for (const auto& r : m_rows) {
            if (r.taskId != taskId) continue;
            g.unlock();
            platform::WriteLog("运行列表|任务已在列表中，不再加入:" + std::to_string(taskId) + "," + name, 0);
            message("已存在任务列表");
            return false;
        }
        for (int s = 1; s <= ProcessState::kSlots && !slot; ++s)
            if (m_s.state->GetSlotField(s, 2) == "0") slot = s;
        if (!slot) {
            g.unlock();
            message("任务太多，空间太窄，放不下啦^_^!");
            return false;
        }
        RunRow row;
        row.name = name;
        row.slot = slot;
        row.taskId = taskId;
        m_rows.push_back(row);
        m_s.state->SetSlotField(slot, 0, std::to_string(taskId));
        m_s.state->SetSlotField(slot, 2, "1");
        m_pages[static_cast<std::size_t>(slot)] = {name, true};
    }
    m_slots.reset(slot);
    m_slots.setLabel(slot, 1, "运行状态：");
    m_slots.setLabel(slot, 2, "附件状态：");
    m_slots.setProgress(slot, 1, 0);
    m_slots.setProgress(slot, 2, 0);
    m_slots.appendPane(slot, "");
    changed();
    return true;
}

bool RunList::StartRun(int rowIndex, const std::string& logPrefix) {
    RunRow row;
    {
        std::lock_guard<std::mutex> g(m_lock);
        if (rowIndex < 0 || rowIndex >= static_cast<int>(m_rows.size())) return false;
        row = m_rows[static_cast<std::size_t>(rowIndex)];
    }
    const int slot = row.slot;
    if (row.state == kStatePaused) {
        // Resume: only a paused run is set running again. The row changes under the same lock
        // as the run's end (runEnded), so a run that ended meanwhile keeps "停止运行".
        bool resumed = false;
        {
            std::lock_guard<std::mutex> g(m_lock);
            resumed = m_s.state->ChangeSlotField(slot, 4, {"2"}, "1");
            if (resumed && rowIndex < static_cast<int>(m_rows.size()))
                m_rows[static_cast<std::size_t>(rowIndex)].state = kStateRunning;
        }
        changed();
        return resumed;
    }
    {
        std::lock_guard<std::mutex> g(m_lock);
        for (std::size_t i = 0; i < m_rows.size(); ++i) {
            const RunRow& other = m_rows[i];
            if (static_cast<int>(i) == rowIndex || other.taskId != row.taskId) continue;
            if (other.state != kStateRunning && other.state != kStatePaused) continue;
            platform::WriteLog("运行列表|任务正在运行，不再启动:" + std::to_string(row.taskId) + "," + row.name, 0);
            return false;
        }
    }
    auto last = lastRunCounters(slot);
    if (m_s.state->GetSlotField(slot, 4) != "0" || (last && last->workers.load() > 0)) {
        message("该任务未能正常结束！如有异常，请重启软件即可！");
        return false;
    }
    // The slot holds the id of the task that was added, whatever its name is now.
    const std::int64_t taskId = std::stoll("0" + m_s.state->GetSlotField(slot, 0));
    std::optional<TaskToRun> task = m_lookup ? m_lookup(taskId) : std::nullopt;
    if (!task) {
        message("任务已不存在，无法开始运行：" + row.name);
        return false;
    }
    auto runner = std::make_shared<TaskRunner>(m_s);
    runner->taskId = taskId;
    runner->slot = slot;
    runner->taskName = row.name;
    runner->settingsJson = task->settings;
    {
        std::lock_guard<std::mutex> g(m_lock);
        m_lastRun[static_cast<std::size_t>(slot)] = runner->counters();
        m_pages[static_cast<std::size_t>(slot)].shown = true;
        if (rowIndex < static_cast<int>(m_rows.size()))
            m_rows[static_cast<std::size_t>(rowIndex)].state = kStateRunning;
    }
    m_s.state->SetSlotField(slot, 4, "1");
    platform::WriteLog(logPrefix + row.name + "," + std::to_string(taskId), 0);
    TaskRunner::Start(runner);
    changed();
    return true;
}

std::string PublishWithoutModuleQuestion(const std::string& settingsJson, const std::array<bool, 3>& stages) {
    if (!stages[2]) return {};
    const auto doc = ParseSettings(settingsJson);
    if (doc && !TrimText(SettingText(*doc, "PostRuleName")).empty()) return {};
    return "该任务勾选了“发布”，但没有设置发布规则，发布这一步会以“发布规则没有设置！”结束。\r\n"
           "发布规则在任务设置的“发布内容”页的“发布接口”中选择。\r\n\r\n仍然开始运行吗？";
}

bool RunList::StartRunAsked(int rowIndex) {
    RunRow row;
    {
        std::lock_guard<std::mutex> g(m_lock);
        if (rowIndex < 0 || rowIndex >= static_cast<int>(m_rows.size())) return false;
        row = m_rows[static_cast<std::size_t>(rowIndex)];
    }
    // A paused run resumes without questions: it was asked when it started.
    if (row.state != kStatePaused && m_s.dialogs && m_lookup) {
        if (auto task = m_lookup(row.taskId)) {
            const std::string question = PublishWithoutModuleQuestion(task->settings, row.stages);
            if (!question.empty() && !m_s.dialogs->confirm(question, platform::kAppTitle)) return false;
        }
    }
    return StartRun(rowIndex);
}

void RunList::PauseRun(int rowIndex) {
    int slot = 0;
    {
        std::lock_guard<std::mutex> g(m_lock);
        if (rowIndex < 0 || rowIndex >= static_cast<int>(m_rows.size())) return;
        slot = m_rows[static_cast<std::size_t>(rowIndex)].slot;
    }
    // Only a running run can be paused; a click as the run ends must not leave the idle slot at "2".
    // The row changes under the same lock as the run's end, so it cannot show "暂停运行" after it.
    {
        std::lock_guard<std::mutex> g(m_lock);
        if (!m_s.state->ChangeSlotField(slot, 4, {"1"}, "2")) return;
        if (rowIndex < static_cast<int>(m_rows.size())) m_rows[static_cast<std::size_t>(rowIndex)].state = kStatePaused;
    }
    changed();
}

void RunList::StopRun(int rowIndex) {
    int slot = 0;
    {
        std::lock_guard<std::mutex> g(m_lock);
        if (rowIndex < 0 || rowIndex >= static_cast<int>(m_rows.size())) return;
        slot = m_rows[static_cast<std::size_t>(rowIndex)].slot;
    }
    m_s.state->ChangeSlotField(slot, 4, {"1", "2"}, "3");
    changed();
}

void RunList::freeSlot(int slot) {
    m_s.state->SetSlotField(slot, 1, "任务名");
    m_s.state->SetSlotField(slot, 2, "0");
    // A freed slot starts idle, whatever its last run left there.
    m_s.state->SetSlotField(slot, 4, "0");
    m_pages[static_cast<std::size_t>(slot)] = SlotPageState{};
}

bool RunList::RemoveFromRunList(int rowIndex) {
    {
        std::unique_lock<std::mutex> g(m_lock);
        if (rowIndex < 0 || rowIndex >= static_cast<int>(m_rows.size())) return false;
        const RunRow row = m_rows[static_cast<std::size_t>(rowIndex)];
        if (!removable(row.state)) {
            g.unlock();
            message("任务未停止，请停止后关闭！");
            return false;
        }
        m_rows.erase(m_rows.begin() + rowIndex);
        freeSlot(row.slot);
    }
    changed();
    return true;
}

bool RunList::CloseSlotPage(int slot) {
    if (slot < 1 || slot > ProcessState::kSlots) return false;  // the run log page stays
    {
        std::unique_lock<std::mutex> g(m_lock);
        const std::string caption = m_pages[static_cast<std::size_t>(slot)].caption;
        auto it = std::find_if(m_rows.begin(), m_rows.end(), [&](const RunRow& r) { return r.slot == slot; });
        if (it != m_rows.end() && !removable(it->state)) {
            g.unlock();
            message("任务未停止，请停止后关闭！");
            return false;
        }
        if (it != m_rows.end()) m_rows.erase(it);
        freeSlot(slot);
    }
    changed();
    return true;
}

void RunList::setStage(int rowIndex, int stage, bool on) {
    {
        std::lock_guard<std::mutex> g(m_lock);
        if (rowIndex < 0 || rowIndex >= static_cast<int>(m_rows.size()) || stage < 0 || stage > 2) return;
        m_rows[static_cast<std::size_t>(rowIndex)].stages[static_cast<std::size_t>(stage)] = on;
    }
    changed();
}

RunButtons RunList::RefreshRunButtons(std::optional<int> selected) const {
    RunButtons b;
    std::lock_guard<std::mutex> g(m_lock);
    if (!selected || *selected < 0 || *selected >= static_cast<int>(m_rows.size())) return b;
    const std::string& s = m_rows[static_cast<std::size_t>(*selected)].state;
    if (s == kStateWaiting) {
        b.start = true;
    } else if (s == kStateRunning) {
        b.pause = b.stop = true;
    } else if (s == kStatePaused) {
        b.startCaption = "继续运行";
        b.start = b.stop = true;
    } else {
        b.start = true;
    }
    return b;
}

std::vector<RunRow> RunList::rows() const {
    std::lock_guard<std::mutex> g(m_lock);
    return m_rows;
}

bool RunList::anyRunning() const {
    std::lock_guard<std::mutex> g(m_lock);
    for (const auto& row : m_rows)
        if (row.state == kStateRunning || row.state == kStatePaused) return true;
    return false;
}

SlotPageState RunList::page(int slot) const {
    std::lock_guard<std::mutex> g(m_lock);
    return m_pages.at(static_cast<std::size_t>(slot));
}

int RunList::rowOf(const std::string& name) const {
    std::lock_guard<std::mutex> g(m_lock);
    for (std::size_t i = 0; i < m_rows.size(); ++i)
        if (m_rows[i].name == name) return static_cast<int>(i);
    return -1;
}

std::array<bool, 3> RunList::stagesOf(const std::string& name) {
    std::lock_guard<std::mutex> g(m_lock);
    for (const auto& r : m_rows)
        if (r.name == name) return r.stages;
    return {false, false, false};
}

void RunList::runEnded(const std::string& name) {
    {
        std::lock_guard<std::mutex> g(m_lock);
        for (auto& r : m_rows)
            if (r.name == name) r.state = kStateStopped;
    }
    changed();
}

std::shared_ptr<collect::RunCounters> RunList::lastRunCounters(int slot) const {
    std::lock_guard<std::mutex> g(m_lock);
    return m_lastRun.at(static_cast<std::size_t>(slot));
}

std::optional<TaskToRun> LookupTaskToRun(const Workspace& ws, std::int64_t taskId, std::string* error) {
    auto fail = [&](std::string why) {
        if (error) *error = std::move(why);
        return std::nullopt;
    };
    std::vector<TaskRow> rows;
    try {
        rows = ReadTaskRows(ws);
    } catch (const std::exception& e) {
        return fail(std::string("cannot be read: the task catalogue gives \"") + e.what() + "\"");
    }
    for (const auto& row : rows) {
        if (row.id != taskId) continue;
        auto doc = ReadStoredRules(row.rules);
        if (!doc) return fail("cannot be read: its stored settings are damaged or cut short");
        return TaskToRun{row.name, *doc};
    }
    return fail("does not exist");
}

TaskLookup catalogueLookup(const Workspace& ws) {
    return [ws](std::int64_t taskId) { return LookupTaskToRun(ws, taskId); };
}

}  // namespace tarvex::app
