#include "app/workspace/process_state.h"

#include <gtest/gtest.h>

#include <thread>

#include "app/run/slot_view_model.h"
#include "support/fakes.h"

using namespace tarvex;

TEST(ProcessState, SlotFieldsReadAndWriteThroughTheRecord) {
    test::ScriptedDialogs dialogs;
    app::ProcessState st(&dialogs);
    EXPECT_EQ(st.GetSlotField(3, 3), "GetSheet3");
    EXPECT_EQ(st.SetSlotField(3, 0, "42"), "42,任务名,0,GetSheet3,0");
    EXPECT_EQ(st.SetSlotField(3, 4, "1"), "42,任务名,0,GetSheet3,1");
    EXPECT_EQ(st.GetSlotField(3, 4), "1");
    EXPECT_EQ(st.GetSlotField(2, -1), "0,任务名,0,GetSheet2,0");
    EXPECT_TRUE(dialogs.shown().empty());
    EXPECT_EQ(st.GetSlotField(6, 0), "");
    EXPECT_TRUE(dialogs.sawMessage("tabstring最大数为5，当前为：6"));
}

TEST(ProcessState, ChangeSlotFieldSetsOnlyFromAnExpectedValue) {
    app::ProcessState st;
    EXPECT_FALSE(st.ChangeSlotField(1, 4, {"1", "2"}, "3"));  // an idle slot is not asked to stop
    EXPECT_EQ(st.GetSlotField(1, 4), "0");
    st.SetSlotField(1, 4, "2");
    EXPECT_TRUE(st.ChangeSlotField(1, 4, {"1", "2"}, "3"));
    EXPECT_EQ(st.GetSlotField(1, -1), "0,任务名,0,GetSheet1,3");
}

TEST(ProcessState, CountersStayExactUnderConcurrentUpdates) {
    app::ProcessState st;
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 1000; ++i) {
                st.addWorkers(2, 1);
                st.addSuccess(2, 1);
                st.addWorkers(2, -1);
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(st.runningWorkers(2), 0);
    EXPECT_EQ(st.succeededRows(2), 6000);
    EXPECT_EQ(st.succeededRows(1), 0);
}

TEST(SlotViewModel, PaneIsEmptiedWhenItGrowsPastAThousandLines) {
    test::RecordingSlotView widgets;
    app::SlotViewModel model(&widgets);
    for (int i = 1; i <= 1000; ++i) model.appendPane(1, "line " + std::to_string(i));
    EXPECT_EQ(model.snapshot(1).pane.size(), 1000u);
    model.appendPane(1, "line 1001");
    EXPECT_TRUE(model.snapshot(1).pane.empty());
    EXPECT_TRUE(widgets.paneLines(1).empty());
    model.appendPane(1, "after");
    EXPECT_EQ(widgets.paneLines(1), std::vector<std::string>{"after"});
    model.appendPane(1, "");
    EXPECT_TRUE(model.snapshot(1).pane.empty());
    EXPECT_TRUE(model.snapshot(2).pane.empty());
}

TEST(SlotViewModel, LabelsAndBarsStartAsAFreshPage) {
    app::SlotViewModel model;
    auto s = model.snapshot(4);
    EXPECT_EQ(s.labels[1], "运行状态：");
    EXPECT_EQ(s.labels[2], "附件状态：");
    model.setLabel(4, 2, "附件状态：3/9");
    model.setProgressRange(4, 2, 0, 9);
    model.setProgress(4, 2, 3);
    s = model.snapshot(4);
    EXPECT_EQ(s.labels[2], "附件状态：3/9");
    EXPECT_EQ(s.bars[2].max, 9);
    EXPECT_EQ(s.bars[2].value, 3);
    model.reset(4);
    EXPECT_EQ(model.snapshot(4).labels[2], "附件状态：");
}
