// Adapting a command text for the server is a function of the text and the catalogue's names alone: tested here
// over hand-made catalogues, without a server.

#include "data/engines/PgCommandAdapter.h"
#include "tests/data/CommandAdapterCases.h"

#include <gtest/gtest.h>

#include <ostream>
#include <sstream>

using namespace velmora::data;
using namespace velmora::test;

namespace velmora::test {

// A failing case shows its text, not its bytes.
void PrintTo(const AdaptCase& c, std::ostream* out)
{
    *out << '"' << c.text << '"';
}

} // namespace velmora::test

namespace {

struct TableNames
{
    const char* name;
    const char* columns; // separated by blanks
};

CatalogueSnapshot snapshotOf(std::initializer_list<TableNames> tables)
{
    CatalogueSnapshot snapshot;
    for (const TableNames& table : tables) {
        snapshot.tables.emplace_back(table.name);
        std::string lower = table.name;
        for (char& c : lower)
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        std::istringstream words(table.columns);
        for (std::string column; words >> column;)
            snapshot.columnsByTable[lower].push_back(column);
    }
    return snapshot;
}

// The twelve tables of the schema as the server's catalogue lists them.
const CatalogueSnapshot& schemaSnapshot()
{
    static const CatalogueSnapshot snapshot = snapshotOf({
        {"OperatorTable",
         "username oper 职务 年龄 雇佣日期 性别 学历 住址 身份证号 联系方式 备注 所属部门 userid passwords able"},
        {"bh", "编号"},
        {"oper", "登录时间 退出时间 userid operid"},
        {"ypzdk", "id 名称 编号 条码 简码 单位 规格 生产厂家 批准文号 最高限量 最低限量 批发价 零售价 主治 剂型 分类 "
                  "生产批号 供应商 "
                  "注册商标 合格证 兑换点"},
        {"cr",
         "crid 编号 出库单位 入库单位 数量 金额 操作人 开票人 日期 类型 出入 成本金额 是否审核 患者姓名 年龄 性别 地址 "
         "执业医师 "
         "处方来源 调配发药人 审核人 单价 购进日期 生产日期 有效期至 ypid 折后价 扣率 卡号 药品养护 生产批号 柜组 "
         "现存数量 供应商 "
         "客户 发票号码 结款方式 入库备注 验收员 单据状态 开票员 导购员 养护人 外观情况 处理结果 结款日期 作废日期"},
        {"kc", "kcid 数量 购进单价 购进金额 购进日期 生产日期 有效期至 ypid 柜组"},
        {"company", "简码 名称 法人 电话 地址 备注 类型 出入 联系人 clientid"},
        {"YdInfo", "ID 药店名称 电话 地址 清单标题 祝福语1 祝福语2 祝福语3 bt1 com 零售单 入库单 批发单 处方单"},
        {"khzl", "编号 客户名称 地址 联系电话 客户编码 简码 备注"},
        {"partment", "部门名称 部门负责人 负责人联系方式 简码"},
        {"sccj", "ID 生产厂家 厂家地址 是否GMP 联系方式 备注 简码"},
        {"zhaiwu", "ID 债务人 简码 联系方式 联系地址 欠债金额 欠债原因 答应归还日期 经手人 备注 欠债日期"},
    });
    return snapshot;
}

class SchemaCommands : public testing::TestWithParam<AdaptCase>
{
};

TEST_P(SchemaCommands, AreAdaptedOnlyWhereTheServerReadsThemDifferently)
{
    EXPECT_EQ(adaptCommand(GetParam().text, schemaSnapshot()), GetParam().adapted);
}

INSTANTIATE_TEST_SUITE_P(CommandAdapter, SchemaCommands, testing::ValuesIn(SchemaAdaptCases));

// Names the schema's tables do not show: tables and columns spelled alike but for their letter case, functions,
// inserts, literals and comments.
TEST(CommandAdapter, FindsTheCatalogueSpellingOrLeavesTheNameAlone)
{
    const CatalogueSnapshot catalogue = snapshotOf({{"Stock", "Qty Name"}, {"Sale", "QTY Total"}, {"STOCK", ""}});
    const AdaptCase cases[] = {
        {"select Qty, name from Stock", "select \"Qty\", \"Name\" from \"Stock\""},
        // The table spelled exactly so wins; else the first in another letter case.
        {"select * from STOCK", "select * from \"STOCK\""},
        {"select * from stock", "select * from \"Stock\""},
        // Two columns alike but for their case: a word that spells neither exactly is no guess of either.
        {"select qty from Sale, Stock", "select qty from \"Sale\", \"Stock\""},
        {"select QTY from Sale, Stock", "select \"QTY\" from \"Sale\", \"Stock\""},
        // A word before '(' is a function, except the table an INSERT names.
        {"select max(Qty) from Stock", "select max(\"Qty\") from \"Stock\""},
        {"insert into Stock (Qty) values (?)", "insert into \"Stock\" (\"Qty\") values (?)"},
        {"select 'Stock' /* Stock */ from Stock -- Qty", "select 'Stock' /* Stock */ from \"Stock\" -- Qty"},
        // A bracketed name the catalogue does not know is quoted as written.
        {"select [Unknown Column] from Stock", "select \"Unknown Column\" from \"Stock\""},
    };
    for (const AdaptCase& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(adaptCommand(c.text, catalogue), c.adapted);
    }
}

TEST(CommandAdapter, AnEmptyCatalogueChangesOnlyBracketsAndDoubleQuotedTexts)
{
    const CatalogueSnapshot empty;
    EXPECT_EQ(adaptCommand("select Qty from Stock where x = \"a\"", empty), "select Qty from Stock where x = 'a'");
    EXPECT_EQ(adaptCommand("select [Qty] from Stock", empty), "select \"Qty\" from Stock");
    EXPECT_EQ(adaptCommand("", empty), "");
}

} // namespace
