// The data module's components as data: which connection, table or command text, settings and declared
// fields each one has. TDMod walks this table.

#include "data/Errors.h"
#include "data/Schema.h"
#include "data/module/DMod.h"

namespace velmora::data {

namespace {

using K = FieldKind;
using T = ComponentType;

constexpr DatasetSettings query{DatasetKind::Query, CursorType::Keyset};
constexpr DatasetSettings staticTable{DatasetKind::Table, CursorType::Static};
constexpr DatasetSettings staticCommand{DatasetKind::Command, CursorType::Static};
constexpr DatasetSettings keysetCommand{DatasetKind::Command, CursorType::Keyset};
// Changed rows stay in the dataset until they are sent as one batch.
constexpr DatasetSettings batchCommand{DatasetKind::Command, CursorType::Static, LockType::BatchOptimistic, 1000,
                                       false};

constexpr std::string_view jetWorkingCopy =
    "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=D:\\velmora\\data\\velmdb.mdb;Persist Security Info=False";
constexpr std::string_view jetReports =
    "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=data\\velmdb.mdb;Persist Security Info=False";

constexpr std::string_view txstjText =
    "select c.名称,c.编号 as 生产批号,c.批准文号,sum(b.数量) as 销售数量,sum(b.金额) as 销售金额, "
    "sum(b.金额-b.成本金额) as 利润, c.id as 药品标识号  from cr b ,ypzdk c where (b.类型='零售' or "
    "b.类型='批发' or  b.类型='处方') and b.ypid=c.id  group by c.名称,c.id,c.编号,c.批准文号";
constexpr std::string_view tdjsearchText =
    "select a.crid,a.编号 as 单据号,a.ypid as 药品编号,a.生产批号,a.有效期至,b.名称, a.数量 as "
    "数量,a.单价,a.金额,a.操作人,a.日期,a.类型,a.柜组,a.扣率,a.结款方式,a.结款日期,a.作废日期,a.单据状态,"
    "a.供应商,a.客户,a.导购员,a.开票员,a.购进日期  from cr a,ypzdk b,kc c  where a.ypid=b.id and "
    "a.ypid=c.ypid order by 日期";
constexpr std::string_view drugsWithStockText = "select a.* ,b.* from ypzdk a,kc b where a.id=b.ypid";
constexpr std::string_view ttypzdText = "select * from ypzdk";
constexpr std::string_view tphkcText = "select a.*,b.*  from cr a,ypzdk b  where a.ypid=b.id";
constexpr std::string_view tcrText = "select a.*,b.批准文号,b.生产厂家,a.供应商,b.编号 as 生产批号,b.兑换点  from "
                                     "cr a,ypzdk b where a.ypid=b.id  and 1=2";
constexpr std::string_view tpdText = "select a.* ,b.*,(a.零售价*b.数量) as 销售金额, (a.零售价*b.数量-购进金额) as "
                                     "利润 from ypzdk a,kc b where a.id=b.ypid and 数量>0";
constexpr std::string_view ttytempText =
    "select a.ypid,a.crid,a.编号,a.数量,a.单价,a.金额,a.折后价,a.扣率,b.名称,b.id ,b.简码,b.条码,a.类型 from cr "
    "a,ypzdk b where a.ypid=b.id";
constexpr std::string_view typyhText =
    "select a.id as 药品编号,a.名称 as 药品名称,a.规格,b.生产批号 as 生产批号,b.有效期至,a.生产厂家,b.现存数量,"
    "b.日期,b.养护人,b.外观情况,b.处理结果,b.crid  from ypzdk a,cr b where a.id=b.ypid and b.类型='入库'";
constexpr std::string_view tcrlistText =
    "select a.名称 as 药品名称,c.生产批号,a.批准文号,c.日期 as 入库时间,c.购进日期,c.数量 as "
    "入库数量,a.生产厂家,c.供应商 as 供货商,a.批发价,a.零售价,a.剂型,a.单位,a.规格,c.发票号码,c.入库备注,c.验收员,"
    "c.有效期至,c.crid,a.id,c.发票号码,c.柜组,c.单价,c.金额 from ypzdk a,kc b,cr c  where a.id=b.ypid and "
    "a.id=c.ypid ";

// A lookup field of tcr: the named column of the typzdk row whose id is this row's ypid.
constexpr FieldDefinition drugLookup(std::string_view name, FieldKind kind, int size, std::string_view resultField)
{
    return {name, kind, size, 0, 0, {}, "ypid", "typzdk", "id", resultField};
}

constexpr FieldDefinition tcrFields[] = {
    {"crid", K::AutoInc},
    {"编号", K::FixedString, 18},
    {"出库单位", K::Integer},
    {"入库单位", K::Integer},
    {"数量", K::Float},
    {"金额", K::BCD, 4, 15, Required},
    {"操作人", K::String, 12},
    {"开票人", K::Integer},
    {"日期", K::DateTime},
    {"类型", K::String, 10},
    {"出入", K::Boolean},
    drugLookup("药品名称", K::String, 30, "名称"),
    drugLookup("药品编号", K::String, 20, "编号"),
    drugLookup("药品简码", K::String, 10, "简码"),
    drugLookup("批发价", K::Float, 0, "批发价"),
    drugLookup("零售价", K::Float, 0, "零售价"),
    drugLookup("单位", K::String, 10, "单位"),
    drugLookup("规格", K::String, 20, "规格"),
    {"成本金额", K::BCD, 4},
    drugLookup("生产厂家", K::WideString, 50, "生产厂家"),
    drugLookup("批准文号", K::WideString, 30, "批准文号"),
    {"生产批号", K::WideString, 20},
    {"是否审核", K::Boolean},
    {"患者姓名", K::WideString, 10},
    {"年龄", K::Integer},
    {"性别", K::WideString, 2},
    {"地址", K::WideString, 50},
    {"执业医师", K::WideString, 10},
    {"处方来源", K::WideString, 50},
    {"调配发药人", K::WideString, 10},
    {"审核人", K::WideString, 10},
    {"单价", K::Float},
    {"购进日期", K::DateTime},
    {"生产日期", K::DateTime},
    {"有效期至", K::DateTime},
    {"ypid", K::WideString, 8},
    {"折后价", K::BCD, 4, 19},
    {"扣率", K::Integer},
    {"卡号", K::WideString, 20},
    {"药品养护", K::WideString, 3},
    {"a.生产批号", K::WideString, 20},
    {"柜组", K::WideString, 50},
    {"现存数量", K::Float},
    {"a.供应商", K::WideString, 30},
    {"客户", K::WideString, 100},
    {"发票号码", K::WideString, 20},
    {"结款方式", K::WideString, 4},
    {"入库备注", K::WideString, 50},
    {"验收员", K::WideString, 20},
    {"单据状态", K::WideString, 4},
    {"开票员", K::WideString, 12},
    {"导购员", K::WideString, 12},
    {"兑换点", K::Float},
};

// 购进单价 and 购进金额 are BCD in kc; declared as double they could never bind, so TPd takes kc's kind.
constexpr FieldDefinition tpdFields[] = {
    {"id", K::WideString, 8},
    {"名称", K::WideString, 50},
    {"简码", K::WideString, 10},
    {"数量", K::Float},
    {"单位", K::WideString, 4},
    {"规格", K::WideString, 20},
    {"生产厂家", K::WideString, 50},
    {"批准文号", K::WideString, 30},
    {"批发价", K::Float},
    {"零售价", K::Float},
    {"购进单价", K::BCD, 4, 10},
    {"购进金额", K::BCD, 4, 15},
    {"柜组", K::WideString, 20},
    {"销售金额", K::Float, 0, 0, ReadOnly},
    {"利润", K::Float, 0, 0, ReadOnly},
};

constexpr FieldDefinition typyhFields[] = {
    {"药品编号", K::WideString, 8},  {"药品名称", K::WideString, 50}, {"生产批号", K::WideString, 20},
    {"现存数量", K::Float},          {"日期", K::DateTime},           {"养护人", K::WideString, 50},
    {"外观情况", K::WideString, 50}, {"处理结果", K::WideString, 50}, {"crid", K::AutoInc},
    {"规格", K::WideString, 20},     {"有效期至", K::DateTime},       {"生产厂家", K::WideString, 50},
};

constexpr ComponentDefinition connection(std::string_view name, std::string_view connectionString, ConnectMode mode)
{
    return {.name = name, .type = T::Connection, .source = connectionString, .mode = mode};
}

constexpr ComponentDefinition dataset(std::string_view name, std::string_view connectionName, DatasetSettings settings,
                                      std::string_view source = {})
{
    return {.name = name, .type = T::Dataset, .source = source, .connection = connectionName, .settings = settings};
}

// A table dataset that declares the columns its table marks for it.
constexpr ComponentDefinition declaringTable(std::string_view name, std::string_view table)
{
    return {.name = name,
            .type = T::Dataset,
            .source = table,
            .connection = "ADOCON",
            .settings = staticTable,
            .fieldsTable = table};
}

constexpr ComponentDefinition command(std::string_view name, std::string_view text,
                                      std::span<const FieldDefinition> fields, DatasetSettings settings = staticCommand)
{
    return {.name = name,
            .type = T::Dataset,
            .source = text,
            .connection = "ADOCON",
            .settings = settings,
            .fields = fields};
}

constexpr ComponentDefinition dataSource(std::string_view name, std::string_view datasetName)
{
    return {.name = name, .type = T::DataSource, .source = datasetName};
}

const ComponentDefinition catalogue[] = {
    connection("ADOConn", jetReports, ConnectMode::ReadWrite),
    dataset("ADOQuery1", "ADOConn", query),
    dataset("ADOQuery2", "ADOConn", query),
    dataset("ADOQuery3", "ADOConn", query),
    connection("ADOCON", jetWorkingCopy, ConnectMode::ShareDenyNone),
    dataset("qrydata", "ADOCON", query),
    dataset("qrydata2", "ADOCON", query),
    dataset("qrydata3", "ADOCON", query),
    declaringTable("tyg", "OperatorTable"),
    dataSource("dsyg", "tyg"),
    dataset("TBH", "ADOCON", staticTable, "bh"),
    dataset("tuser", "ADOCON", staticTable, "OperatorTable"),
    dataSource("dsuser", "tuser"),
    {.name = "toper",
     .type = T::Dataset,
     .source = "select  * from oper ",
     .connection = "ADOCON",
     .settings = staticCommand,
     .fieldsTable = "oper"},
    dataSource("dsoper", "toper"),
    declaringTable("typzdk", "ypzdk"),
    dataSource("dsypzdk", "typzdk"),
    dataset("YDTemp", "ADOCON", staticCommand),
    command("txstj", txstjText, {}),
    dataSource("dsxstj", "txstj"),
    dataset("TXgPd", "ADOCON", query),
    command("tdjsearch", tdjsearchText, {}),
    dataSource("dsdjsearch", "tdjsearch"),
    command("ttemp", drugsWithStockText, {}),
    dataSource("dstemp", "ttemp"),
    {.name = "TTYpzd",
     .type = T::Dataset,
     .source = ttypzdText,
     .connection = "ADOCON",
     .settings = staticCommand,
     .fieldsTable = "ypzdk",
     .tableFieldCount = 18},
    dataSource("DsYpzd", "TTYpzd"),
    command("TPhkc", tphkcText, {}),
    dataSource("DSPhkc", "TPhkc"),
    command("tcr", tcrText, tcrFields, batchCommand),
    dataSource("dscr", "tcr"),
    declaringTable("tdw", "company"),
    dataSource("dsdw", "tdw"),
    declaringTable("tkc", "kc"),
    dataSource("dskc", "tkc"),
    command("TPd", tpdText, tpdFields, batchCommand),
    dataSource("DsPd", "TPd"),
    command("TTemGys", drugsWithStockText, {}),
    dataSource("DSTemGys", "TTemGys"),
    declaringTable("TYdInfo", "YdInfo"),
    dataSource("DSYdInfo", "TYdInfo"),
    dataSource("DsHuiyuan", "THuiyuan"),
    dataset("TPfTem", "ADOCON", staticCommand),
    command("TTyTemp", ttytempText, {}),
    dataSource("DsTyTemp", "TTyTemp"),
    dataset("TAPD", "ADOCON", staticTable, "kc"),
    dataSource("DSAPD", "TAPD"),
    command("TYpyh", typyhText, typyhFields),
    dataSource("Dsypyh", "TYpyh"),
    command("tcrlist", tcrlistText, {}),
    dataSource("dscrlist", "tcrlist"),
    declaringTable("TKhzl", "khzl"),
    dataSource("DSKhzl", "TKhzl"),
    dataset("THYXF", "ADOCON", staticCommand),
    dataSource("DSHYXF", "THYXF"),
    declaringTable("tbm", "partment"),
    dataSource("dsbm", "tbm"),
    declaringTable("TSccj", "sccj"),
    dataSource("Dsccj", "TSccj"),
    dataSource("DSZwr", "TZwr"),
    declaringTable("TZwr", "zhaiwu"),
    dataset("THuiyuan", "ADOCON", keysetCommand),
};

} // namespace

std::span<const ComponentDefinition> dataModuleCatalogue()
{
    return catalogue;
}

std::vector<FieldDefinition> declaredFieldsOf(const ComponentDefinition& entry)
{
    if (entry.fieldsTable.empty())
        return {entry.fields.begin(), entry.fields.end()};
    const TableDefinition* table = findTable(entry.fieldsTable);
    if (!table)
        throw DatabaseError("Table '" + std::string(entry.fieldsTable) + "' is not in the schema", ErrorKind::NotFound);
    const auto columns = entry.tableFieldCount < 0
                             ? table->declared()
                             : table->columns.first(static_cast<std::size_t>(entry.tableFieldCount));
    std::vector<FieldDefinition> fields;
    for (const ColumnDefinition& column : columns)
        fields.push_back({column.name, column.kind, column.size, column.precision, column.flags, column.label});
    return fields;
}

} // namespace velmora::data
