#pragma once

// Command texts written for the embedded engine and what the server must read instead, over the twelve tables of
// the schema: adapted without a server (test_commandadapter) and run on one (test_pgbackend).

namespace velmora::test {

struct AdaptCase
{
    const char* text;
    const char* adapted;
};

inline constexpr AdaptCase SchemaAdaptCases[] = {
    {"select * from OperatorTable", "select * from \"OperatorTable\""},
    {"select  * from oper ", "select  * from oper "},
    {"select UserId, username from operatortable where userid=1",
     "select UserId, username from \"OperatorTable\" where userid=1"},
    {"select ID, 药店名称 from YdInfo", "select \"ID\", 药店名称 from \"YdInfo\""},
    {"select a.id, b.ID from ypzdk a, sccj b where b.id > 0",
     "select a.id, b.\"ID\" from ypzdk a, sccj b where b.\"ID\" > 0"},
    {"select X.ID as Id from zhaiwu X where 1=2", "select X.\"ID\" as Id from zhaiwu X where 1=2"},
    {"select YdInfo.ID from YdInfo", "select \"YdInfo\".\"ID\" from \"YdInfo\""},
    {"select 'OperatorTable' as t, [YdInfo].[ID] from [YdInfo]",
     "select 'OperatorTable' as t, \"YdInfo\".\"ID\" from \"YdInfo\""},
    {"select count(*) from oper where userid = \"abc\"", "select count(*) from oper where userid = 'abc'"},
    {"select \"ID\" from \"YdInfo\"", "select \"ID\" from \"YdInfo\""},
    {"select \"Id\" from \"ydinfo\"", "select \"ID\" from \"YdInfo\""},
    {"select * from public.OperatorTable", "select * from public.\"OperatorTable\""},
    {"select count(*) from bh where exists (select ID from YdInfo where ID > 0)",
     "select count(*) from bh where exists (select \"ID\" from \"YdInfo\" where \"ID\" > 0)"},
    {"select 编号 as \"号码\" from bh where \"编号\" <> \"x\" order by \"号码\"",
     "select 编号 as \"号码\" from bh where \"编号\" <> 'x' order by \"号码\""},
    {"-- OperatorTable\nselect sum(金额) as ID from cr order by ID",
     "-- OperatorTable\nselect sum(金额) as ID from cr order by ID"},
    {"select c.名称,sum(b.数量) as 销售数量 from cr b ,ypzdk c where b.类型='零售' group by c.名称",
     "select c.名称,sum(b.数量) as 销售数量 from cr b ,ypzdk c where b.类型='零售' group by c.名称"},
};

} // namespace velmora::test
