#include "data/Schema.h"

#include "data/Text.h"

#include <array>

namespace velmora::data {

namespace {

using K = FieldKind;

// Column lists, in stored order. {name, kind, size (text: characters, BCD: scale), precision, flags, label}

constexpr ColumnDefinition operatorTable[] = {
    {"username", K::WideString, 10, 0, 0, "用户名"},
    {"oper", K::WideString, 10, 0, 0, "真实姓名"},
    {"职务", K::WideString, 10},
    {"年龄", K::Integer},
    {"雇佣日期", K::DateTime},
    {"性别", K::WideString, 2},
    {"学历", K::WideString, 10},
    {"住址", K::WideString, 50},
    {"身份证号", K::WideString, 18},
    {"联系方式", K::WideString, 25},
    {"备注", K::WideString, 50},
    {"所属部门", K::WideString, 3},
    {"userid", K::Float},
    // Read by the login, declared by no dataset.
    {"passwords", K::WideString, 255},
    {"able", K::LargeInt},
};

// Nothing names a column of bh; it keeps document numbers.
constexpr ColumnDefinition bh[] = {
    {"编号", K::WideString, 50},
};

constexpr ColumnDefinition oper[] = {
    {"登录时间", K::DateTime},
    {"退出时间", K::DateTime},
    {"userid", K::WideString, 50},
    {"operid", K::AutoInc},
};

constexpr ColumnDefinition ypzdk[] = {
    {"id", K::WideString, 8},
    {"名称", K::WideString, 50},
    {"编号", K::FixedWideString, 16},
    {"条码", K::WideString, 15},
    {"简码", K::WideString, 10},
    {"单位", K::WideString, 4},
    {"规格", K::WideString, 20},
    {"生产厂家", K::WideString, 50},
    {"批准文号", K::WideString, 30},
    {"最高限量", K::Integer},
    {"最低限量", K::Integer},
    {"批发价", K::Float},
    {"零售价", K::Float},
    {"主治", K::Memo},
    {"剂型", K::WideString, 10},
    {"分类", K::WideString, 10},
    {"生产批号", K::WideString, 20},
    {"供应商", K::WideString, 50},
    {"注册商标", K::WideString, 20},
    {"合格证", K::WideString, 20},
    {"兑换点", K::Float},
};

constexpr ColumnDefinition cr[] = {
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
    {"成本金额", K::BCD, 4}, // precision not declared: the DDL gives it 19
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
    {"生产批号", K::WideString, 20},
    {"柜组", K::WideString, 50},
    {"现存数量", K::Float},
    {"供应商", K::WideString, 30},
    {"客户", K::WideString, 100},
    {"发票号码", K::WideString, 20},
    {"结款方式", K::WideString, 4},
    {"入库备注", K::WideString, 50},
    {"验收员", K::WideString, 20},
    {"单据状态", K::WideString, 4},
    {"开票员", K::WideString, 12},
    {"导购员", K::WideString, 12},
    {"养护人", K::WideString, 50},
    {"外观情况", K::WideString, 50},
    {"处理结果", K::WideString, 50},
    {"结款日期", K::DateTime},
    {"作废日期", K::DateTime},
};

constexpr ColumnDefinition kc[] = {
    {"kcid", K::AutoInc},        {"数量", K::Float},         {"购进单价", K::BCD, 4, 10},
    {"购进金额", K::BCD, 4, 15}, {"购进日期", K::DateTime},  {"生产日期", K::DateTime},
    {"有效期至", K::DateTime},   {"ypid", K::WideString, 8}, {"柜组", K::WideString, 20},
};

constexpr ColumnDefinition company[] = {
    {"简码", K::WideString, 10},      {"名称", K::WideString, 50}, {"法人", K::WideString, 16},
    {"电话", K::FixedWideString, 20}, {"地址", K::WideString, 50}, {"备注", K::WideString, 100},
    {"类型", K::WideString, 10},      {"出入", K::SmallInt},       {"联系人", K::WideString, 10},
    {"clientid", K::Float},
};

constexpr ColumnDefinition ydInfo[] = {
    {"ID", K::AutoInc},
    {"药店名称", K::WideString, 60},
    {"电话", K::WideString, 20},
    {"地址", K::WideString, 50},
    {"清单标题", K::WideString, 50},
    {"祝福语1", K::WideString, 50},
    {"祝福语2", K::WideString, 50},
    {"祝福语3", K::WideString, 50},
    {"bt1", K::WideString, 20},
    {"com", K::WideString, 20},
    {"零售单", K::WideString, 100},
    {"入库单", K::WideString, 100},
    {"批发单", K::WideString, 100},
    {"处方单", K::WideString, 100},
};

constexpr ColumnDefinition khzl[] = {
    {"编号", K::AutoInc},
    {"客户名称", K::WideString, 100},
    {"地址", K::WideString, 200},
    {"联系电话", K::WideString, 50},
    {"客户编码", K::FixedWideString, 20},
    {"简码", K::FixedWideString, 20},
    {"备注", K::WideString, 255},
};

constexpr ColumnDefinition partment[] = {
    {"部门名称", K::String, 50, 0, Required},
    {"部门负责人", K::WideString, 14},
    {"负责人联系方式", K::WideString, 50},
    {"简码", K::WideString, 10},
};

constexpr ColumnDefinition sccj[] = {
    {"ID", K::AutoInc},
    {"生产厂家", K::WideString, 50},
    {"厂家地址", K::WideString, 50},
    {"是否GMP", K::WideString, 2},
    {"联系方式", K::WideString, 50},
    {"备注", K::WideString, 50},
    {"简码", K::WideString, 20},
};

constexpr ColumnDefinition zhaiwu[] = {
    {"ID", K::AutoInc},
    {"债务人", K::WideString, 20},
    {"简码", K::WideString, 20},
    {"联系方式", K::WideString, 20},
    {"联系地址", K::WideString, 50},
    {"欠债金额", K::BCD, 4, 19},
    {"欠债原因", K::WideString, 50},
    {"答应归还日期", K::DateTime},
    {"经手人", K::WideString, 20},
    {"备注", K::WideString, 50},
    {"欠债日期", K::DateTime},
};

const std::array<TableDefinition, 12> tables = {{
    {"OperatorTable", operatorTable, 13},
    {"bh", bh, 0},
    {"oper", oper, 4},
    {"ypzdk", ypzdk, 21},
    {"cr", cr, 0},
    {"kc", kc, 9},
    {"company", company, 10},
    {"YdInfo", ydInfo, 14},
    {"khzl", khzl, 7},
    {"partment", partment, 4},
    {"sccj", sccj, 7},
    {"zhaiwu", zhaiwu, 11},
}};

} // namespace

std::span<const TableDefinition> schemaTables()
{
    return tables;
}

const TableDefinition* findTable(std::string_view name)
{
    for (const TableDefinition& table : tables)
        if (text::equalsIgnoreCase(table.name, name))
            return &table;
    return nullptr;
}

const ColumnDefinition* findColumn(const TableDefinition& table, std::string_view name)
{
    for (const ColumnDefinition& column : table.columns)
        if (text::equalsIgnoreCase(column.name, name))
            return &column;
    return nullptr;
}

std::string sqlType(const ColumnDefinition& column, Dialect dialect)
{
    return declaredType({.kind = column.kind,
                         .size = isTextKind(column.kind) ? column.size : 0,
                         .precision = column.precision,
                         .scale = column.kind == K::BCD ? column.size : 0},
                        dialect);
}

std::string createTableSql(const TableDefinition& table, Dialect dialect)
{
    std::string sql = "CREATE TABLE " + quoteIdentifier(table.name) + " (";
    bool firstColumn = true;
    for (const ColumnDefinition& column : table.columns) {
        sql += firstColumn ? "\n    " : ",\n    ";
        firstColumn = false;
        sql += quoteIdentifier(column.name) + " " + sqlType(column, dialect);
        if (column.flags & Required)
            sql += " NOT NULL";
    }
    return sql + "\n);\n";
}

std::string schemaScript()
{
    std::string script;
    for (const TableDefinition& table : tables)
        script += createTableSql(table);
    return script;
}

} // namespace velmora::data
