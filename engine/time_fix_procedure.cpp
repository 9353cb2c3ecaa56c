#include "engine/time_fix_procedure.h"

#include "options/settings.h"
#include "platform/files.h"

namespace engine {

const std::vector<std::string>& TimeFixProcedureLines() {
  static const std::vector<std::string> lines = {
      "create procedure \"dba\".sp_ts_time() ",
      "begin ",
      "declare err_notfound exception for sqlstate value '02000'; ",
      "declare id integer; declare ThisCol char(128); ",
      "declare ThisTbl char(128); declare ThisVal timestamp; declare myexestr long varchar; ",
      "declare local temporary table Temptcval(tid integer null, t_name char(128) null, "
      "c_name char(128) null, val timestamp null) on commit delete rows; ",
      "declare Tempcur dynamic scroll cursor for select tid,t_name,c_name from Temptcval; ",
      "declare Tempcur2 dynamic scroll cursor for select t_name,c_name,val from Temptcval; ",
      "insert into Temptcval(tid,t_name,c_name) select number(*),tname,cname from SYS.SYSCOLUMNS "
      "where creator not in('dbo','sys') and coltype='timestamp'; ",
      "open Tempcur; ",
      "Cur1Loop: loop fetch next Tempcur into id,ThisTbl,ThisCol; ",
      "if sqlstate=err_notfound then leave Cur1Loop end if; ",
      "set myexestr='update Temptcval set val = (select max(date('|| char(34) || ThisCol || "
      "char(34) ||')) from '|| char(34) || ThisTbl || char(34) ||') where tid = '||id ;",
      "execute immediate myexestr end loop Cur1Loop; ",
      "close TempCur; ",
      "set myexestr=''; ",
      "open Tempcur2; ",
      "Cur2Loop: loop fetch next Tempcur2 into ThisTbl,ThisCol,ThisVal; ",
      "If sqlstate = err_notfound then leave Cur2Loop end if; ",
      "if ThisVal='1899-12-30' then set myexestr=myexestr||' ALTER TABLE '|| char(34) || Thistbl "
      "|| char(34) ||' modify '|| "
      "char(34) || ThisCol || char(34) ||' time;' end if;    ",
      "end loop Cur2Loop; ",
      "close TempCur2; ",
      "if length(myexestr)<>0 then execute immediate myexestr end if; ",
      "End; ",
      "",
  };
  return lines;
}

const std::vector<std::string>& TimeFixProcedureLines(TargetKind target) {
  if (target == TargetKind::Norvane) return TimeFixProcedureLines();
  // A column without values stays timestamp; the look for another date stops at the first one.
  static const std::vector<std::string> lines = {
      "create or replace procedure sp_ts_time()",
      "language plpgsql",
      "as $sp_ts_time$",
      "declare",
      "  c record;",
      "  only_times boolean;",
      "begin",
      "  for c in select n.nspname as s, k.relname as t, a.attname as col",
      "      from pg_attribute a",
      "      join pg_class k on k.oid = a.attrelid",
      "      join pg_namespace n on n.oid = k.relnamespace",
      "      where k.relkind in ('r', 'p') and a.attnum > 0 and not a.attisdropped",
      "        and a.atttypid = 'timestamp'::regtype",
      "        and n.nspname <> 'information_schema' and n.nspname not like 'pg\\_%'",
      "      order by n.nspname, k.relname, a.attnum",
      "  loop",
      "    execute format('select exists (select from %1$I.%2$I where %3$I is not null)'",
      "                   ' and not exists (select from %1$I.%2$I'",
      "                   ' where %3$I::date <> date ''1899-12-30'')', c.s, c.t, c.col)",
      "      into only_times;",
      "    if only_times then",
      "      execute format('alter table %I.%I alter column %I type time using %I::time',",
      "                     c.s, c.t, c.col, c.col);",
      "    end if;",
      "  end loop;",
      "end;",
      "$sp_ts_time$;",
      "",
  };
  return lines;
}

void WriteTimeFixProcedure(const MigrationSettings& settings) {
  const std::string path = settings.WorkFolder + "sp.sql";
  if (platform::files::FileExists(path)) platform::files::DeleteFile(path);
  platform::files::WriteTextLines(path, TimeFixProcedureLines(settings.Target));
}

}  // namespace engine
