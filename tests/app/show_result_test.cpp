#include "app/show_result.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log/log.h"
#include "platform/codepage.h"
#include "platform/ui.h"
#include "support/temp_dir.h"

namespace {

struct Shown {
    WString text;
    unsigned type;
};
std::vector<Shown> g_shown;

int RecordMessageBox(const WString& text, unsigned type) {
    g_shown.push_back({text, type});
    return 1;
}

TEST(ShowResultTest, LogsEveryMessageAndShowsOnlyWhenAsked) {
    ScopedTempDir dir;
    plat::SetAnsiCodePageForTesting(936);
    plat::SetMessageBoxForTesting(&RecordMessageBox);
    ResetLogForTesting();
    ASSERT_TRUE(OpenLogFile(dir.Sub(u"ReData.log")));
    g_shown.clear();

    app::ShowResult(u"数据迁移失败！", plat::kMbOk, 0);
    EXPECT_TRUE(g_shown.empty());
    app::ShowResult(u"数据迁移成功！", plat::kMbOk, 1);
    ASSERT_EQ(g_shown.size(), 1u);
    EXPECT_EQ(g_shown[0].text, u"数据迁移成功！");
    EXPECT_EQ(g_shown[0].type, plat::kMbOk);

    const std::string log = ReadFileBytes(dir.Sub(u"ReData.log"));
    const size_t failed = log.find("  " + *ToAnsi(u"数据迁移失败！") + "\r\n");
    const size_t succeeded = log.find("  " + *ToAnsi(u"数据迁移成功！") + "\r\n");
    EXPECT_NE(failed, std::string::npos) << log;
    EXPECT_NE(succeeded, std::string::npos) << log;
    EXPECT_LT(failed, succeeded);

    ResetLogForTesting();
    plat::SetMessageBoxForTesting(nullptr);
    plat::SetAnsiCodePageForTesting(0);
}

}  // namespace
