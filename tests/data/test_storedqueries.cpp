#include "data/Errors.h"
#include "data/module/DMod.h"
#include "tests/support/BackendTest.h"
#include "tests/support/ErrorOf.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace velmora::data;
using namespace velmora::test;

namespace {

// Three drugs: Y1 with two stock rows, Y2 with one stock row above zero and one below, Y3 without stock.
// Lines of every type, and one line (金额 1) whose drug is not in the dictionary.
const char* const fixture = R"(
insert into ypzdk(id, 名称, 编号, 简码, 单位, 规格, 生产厂家, 批准文号, 批发价, 零售价, 兑换点) values
    ('Y1', '阿莫西林', 'A001', 'AMXL', '盒', '0.25g*24', '华北制药', 'H13020001', 8, 10, 1.5),
    ('Y2', '布洛芬', 'B002', 'BLF', '盒', '0.3g*20', '中美史克', 'H10900089', 4, 5, 0),
    ('Y3', '维生素C', 'C003', 'WSSC', '瓶', '100片', '东北制药', 'H21021234', 2, 3, 0);
insert into kc(数量, 购进单价, 购进金额, ypid, 柜组) values
    (10, 6, 60, 'Y1', '西药'), (0, 6, 0, 'Y1', '西药'), (4, 3, 12, 'Y2', '西药'), (-1, 3, -3, 'Y2', '西药');
insert into cr(编号, 数量, 金额, 成本金额, 日期, 类型, ypid, 生产批号, 现存数量, 养护人, 发票号码) values
    ('D1', 2, 20, 12, '2026-01-05 10:00:00', '零售', 'Y1', 'P1', 8, NULL, 'F1'),
    ('D2', 3, 24, 18, '2026-01-03 10:00:00', '批发', 'Y1', 'P1', 5, NULL, 'F2'),
    ('D3', 10, 60, 60, '2026-01-01 09:00:00', '入库', 'Y1', 'P1', 10, '李四', 'F3'),
    ('D4', 1, 5, 3, '2026-01-04 10:00:00', '处方', 'Y2', 'P2', 3, NULL, 'F4'),
    ('D5', 4, 12, 12, '2026-01-02 10:00:00', '入库', 'Y2', 'P2', 4, '王五', 'F5'),
    ('D6', 1, 7, 2, '2026-01-06 10:00:00', '零售', 'Y3', 'P3', 0, NULL, 'F6'),
    ('D7', 1, 1, 1, '2026-01-07 10:00:00', '零售', 'Y9', 'P9', 0, NULL, 'F7');
)";

// The same texts and the same answers on both backends.
class StoredQueryTest : public BackendTest
{
protected:
    void prepare() override
    {
        db->run(db->schema() + fixture);
        dmod = std::make_unique<TDMod>(db->folder());
        dmod->ADOCON().setConnectionString(db->connectionString());
    }

    Dataset& opened(const char* name)
    {
        Dataset& dataset = dmod->dataset(name);
        dataset.open();
        return dataset;
    }

    // One field's display text on every row, in the dataset's order.
    static std::vector<std::string> column(Dataset& dataset, const char* field)
    {
        std::vector<std::string> values;
        for (dataset.first(); !dataset.eof(); dataset.next())
            values.push_back(dataset.fieldByName(field).asString());
        return values;
    }

    long long queryNumber(const std::string& sql) { return db->number(sql); }

    std::unique_ptr<TDMod> dmod;
};

VELMORA_INSTANTIATE_FOR_BACKENDS(StoredQueryTest);

struct Shape
{
    const char* dataset;
    int rows;
    std::size_t fields;
};

const Shape shapes[] = {
    {"txstj", 3, 7},       // drugs with sales lines; Y9 has no drug, stock-in lines do not count
    {"tdjsearch", 10, 23}, // each line of a drug once per stock row of that drug
    {"ttemp", 4, 30},      // each stock row with its drug's 21 columns and its own 9
    {"TTemGys", 4, 30},    {"TTYpzd", 3, 18}, {"TPhkc", 6, 68}, // each line with a drug: 47 columns of cr, 21 of ypzdk
    {"tcr", 0, 53},        {"TPd", 2, 15},                      // stock rows above zero only
    {"TTyTemp", 6, 13},    {"TYpyh", 2, 12},                    // stock-in lines only
    {"tcrlist", 10, 23},
};

TEST_P(StoredQueryTest, EveryCommandDatasetOpensWithItsRows)
{
    for (const Shape& shape : shapes) {
        SCOPED_TRACE(shape.dataset);
        Dataset& dataset = opened(shape.dataset);
        EXPECT_EQ(dataset.recordCount(), shape.rows);
        EXPECT_EQ(dataset.fields().size(), shape.fields);
    }
}

TEST_P(StoredQueryTest, SalesStatisticsCountOnlySales)
{
    Dataset& txstj = opened("txstj");
    std::map<std::string, std::vector<std::string>> byDrug;
    for (txstj.first(); !txstj.eof(); txstj.next())
        byDrug[txstj.fieldByName("药品标识号").asString()] = {
            txstj.fieldByName("名称").asString(),     txstj.fieldByName("生产批号").asString(),
            txstj.fieldByName("批准文号").asString(), txstj.fieldByName("销售数量").asString(),
            txstj.fieldByName("销售金额").asString(), txstj.fieldByName("利润").asString()};
    EXPECT_EQ(byDrug.size(), 3u);
    EXPECT_EQ(byDrug["Y1"], (std::vector<std::string>{"阿莫西林", "A001", "H13020001", "5", "44", "14"}));
    EXPECT_EQ(byDrug["Y2"], (std::vector<std::string>{"布洛芬", "B002", "H10900089", "1", "5", "2"}));
    EXPECT_EQ(byDrug["Y3"], (std::vector<std::string>{"维生素C", "C003", "H21021234", "1", "7", "5"}));
}

TEST_P(StoredQueryTest, LineSearchesRepeatPerStockRow)
{
    Dataset& tdjsearch = opened("tdjsearch");
    EXPECT_EQ(column(tdjsearch, "单据号"),
              (std::vector<std::string>{"D3", "D3", "D5", "D5", "D2", "D2", "D4", "D4", "D1", "D1"}));
    tdjsearch.first();
    EXPECT_EQ(tdjsearch.fieldByName("药品编号").asString(), "Y1");
    EXPECT_EQ(tdjsearch.fieldByName("名称").asString(), "阿莫西林");

    Dataset& tcrlist = opened("tcrlist");
    std::map<std::string, int> perLine;
    for (const std::string& crid : column(tcrlist, "crid"))
        ++perLine[crid];
    EXPECT_EQ(perLine, (std::map<std::string, int>{{"1", 2}, {"2", 2}, {"3", 2}, {"4", 2}, {"5", 2}}));
    EXPECT_NE(tcrlist.findField("入库数量"), nullptr);
    EXPECT_NE(tcrlist.findField("供货商"), nullptr);
}

TEST_P(StoredQueryTest, StocktakingSkipsEmptyStockAndComputesValueAndProfit)
{
    Dataset& tpd = opened("TPd");
    std::vector<std::string> rows;
    for (tpd.first(); !tpd.eof(); tpd.next())
        rows.push_back(tpd.fieldByName("id").asString() + " " + tpd.fieldByName("数量").asString() + " " +
                       tpd.fieldByName("销售金额").asString() + " " + tpd.fieldByName("利润").asString() + " " +
                       tpd.fieldByName("购进金额").asString());
    EXPECT_EQ(rows, (std::vector<std::string>{"Y1 10 100 40 60", "Y2 4 20 8 12"}));
    EXPECT_EQ(tpd.fieldByName("购进单价").kind(), FieldKind::BCD);
    EXPECT_TRUE(tpd.fieldByName("利润").readOnly());
}

// With no stock above zero the computed columns have no values to be typed by; the view still opens.
TEST_P(StoredQueryTest, StocktakingOpensOnEmptyStock)
{
    db->run("update kc set 数量 = 0;");
    Dataset& tpd = opened("TPd");
    EXPECT_EQ(tpd.recordCount(), 0);
    EXPECT_EQ(tpd.fieldByName("利润").kind(), FieldKind::Float);
    EXPECT_TRUE(tpd.fieldByName("利润").isNull());
}

TEST_P(StoredQueryTest, MaintenanceListsStockInLines)
{
    Dataset& typyh = opened("TYpyh");
    EXPECT_EQ(column(typyh, "药品名称"), (std::vector<std::string>{"阿莫西林", "布洛芬"}));
    EXPECT_EQ(column(typyh, "养护人"), (std::vector<std::string>{"李四", "王五"}));
    EXPECT_EQ(column(typyh, "规格"), (std::vector<std::string>{"0.25g*24", "0.3g*20"}));
    EXPECT_EQ(typyh.fieldByName("crid").kind(), FieldKind::AutoInc);
}

TEST_P(StoredQueryTest, DocumentLinesOpenEmptyAndLookUpTheirDrug)
{
    EXPECT_FALSE(dmod->typzdk().active());
    Dataset& tcr = opened("tcr");
    EXPECT_TRUE(dmod->typzdk().active()); // the lookup dataset opens with it
    EXPECT_EQ(tcr.recordCount(), 0);
    EXPECT_EQ(tcr.fieldByName("a.生产批号").kind(), FieldKind::WideString);
    EXPECT_EQ(tcr.fieldByName("a.供应商").kind(), FieldKind::WideString);

    struct Line
    {
        const char* ypid;
        const char* name;    // lookups: 药品名称
        const char* price;   // 零售价
        const char* factory; // 生产厂家
    };
    const Line lines[] = {{"Y1", "阿莫西林", "10", "华北制药"}, {"Y9", "", "", ""}, {"Y2", "布洛芬", "5", "中美史克"}};
    for (const Line& line : lines) {
        tcr.append();
        tcr.fieldByName("ypid").setAsString(line.ypid);
        tcr.fieldByName("金额").setAsFloat(1.25);
        tcr.fieldByName("类型").setAsString("零售");
        EXPECT_EQ(tcr.fieldByName("药品名称").asString(), line.name); // while editing, too
        tcr.post();
    }
    int row = 0;
    for (tcr.first(); !tcr.eof(); tcr.next(), ++row) {
        SCOPED_TRACE(lines[row].ypid);
        EXPECT_EQ(tcr.fieldByName("药品名称").asString(), lines[row].name);
        EXPECT_EQ(tcr.fieldByName("零售价").asString(), lines[row].price);
        EXPECT_EQ(tcr.fieldByName("生产厂家").asString(), lines[row].factory);
        EXPECT_EQ(tcr.fieldByName("药品编号").isNull(), std::string(lines[row].name).empty());
    }
    EXPECT_TRUE(tcr.locate("药品名称", "布洛芬"));
    EXPECT_EQ(tcr.recNo(), 2);

    EXPECT_EQ(queryNumber("select count(*) from cr"), 7);
    tcr.applyUpdates();
    EXPECT_EQ(queryNumber("select count(*) from cr"), 10);
    EXPECT_EQ(queryNumber("select count(*) from cr where 金额 = 1.25 and 类型 = '零售'"), 3);
    EXPECT_EQ(tcr.recordCount(), 3);
}

// Of the columns that share a name, only cr's own copies are written to cr.
TEST_P(StoredQueryTest, DocumentLinesWriteOnlyTheirOwnColumns)
{
    Dataset& tcr = opened("tcr");
    tcr.append();
    tcr.fieldByName("ypid").setAsString("Y2");
    tcr.fieldByName("金额").setAsString("3");
    tcr.fieldByName("a.生产批号").setAsString("P77");
    tcr.fieldByName("生产批号").setAsString("B002");
    tcr.fieldByName("a.供应商").setAsString("供应商甲");
    tcr.fieldByName("兑换点").setAsString("9");
    tcr.post();
    tcr.applyUpdates();
    EXPECT_EQ(queryNumber("select count(*) from cr where 生产批号 = 'P77' and 供应商 = '供应商甲' and 金额 = 3"), 1);
    EXPECT_EQ(queryNumber("select count(*) from ypzdk where 兑换点 = 9 or 编号 = 'B002' and id <> 'Y2'"), 0);
}

TEST_P(StoredQueryTest, DocumentLinesNeedAnAmount)
{
    Dataset& tcr = opened("tcr");
    tcr.append();
    tcr.fieldByName("ypid").setAsString("Y1");
    try {
        tcr.post();
        FAIL() << "stored without 金额";
    } catch (const DatabaseError& e) {
        EXPECT_STREQ(e.what(), "Field '金额' must have a value");
    }
    EXPECT_TRUE(tcr.editing());
}

// The 53 fields of a document line, in their declared order, with the nine lookups among them.
TEST_P(StoredQueryTest, DocumentLinesExposeTheirFieldsInOrder)
{
    const std::vector<std::string> expected = {
        "crid",     "编号",     "出库单位",   "入库单位", "数量",       "金额",     "操作人",   "开票人",   "日期",
        "类型",     "出入",     "药品名称",   "药品编号", "药品简码",   "批发价",   "零售价",   "单位",     "规格",
        "成本金额", "生产厂家", "批准文号",   "生产批号", "是否审核",   "患者姓名", "年龄",     "性别",     "地址",
        "执业医师", "处方来源", "调配发药人", "审核人",   "单价",       "购进日期", "生产日期", "有效期至", "ypid",
        "折后价",   "扣率",     "卡号",       "药品养护", "a.生产批号", "柜组",     "现存数量", "a.供应商", "客户",
        "发票号码", "结款方式", "入库备注",   "验收员",   "单据状态",   "开票员",   "导购员",   "兑换点"};
    const std::vector<std::string> lookups = {"药品名称", "药品编号", "药品简码", "批发价",  "零售价",
                                              "单位",     "规格",     "生产厂家", "批准文号"};
    Dataset& tcr = opened("tcr");
    std::vector<std::string> names;
    std::vector<std::string> lookupNames;
    for (const auto& field : tcr.fields()) {
        names.push_back(field->fieldName());
        if (field->isLookup())
            lookupNames.push_back(field->fieldName());
    }
    EXPECT_EQ(names, expected);
    EXPECT_EQ(lookupNames, lookups);
}

} // namespace
