<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>EmployeeGrid</name>
    <message>
        <source>Confirm</source>
        <translation>Confirm</translation>
    </message>
    <message>
        <source>Delete record?</source>
        <translation>Delete record?</translation>
    </message>
</context>
<context>
    <name>EmployeeGridModel</name>
    <message>
        <source>员工编号</source>
        <translation>Number</translation>
    </message>
    <message>
        <source>姓名</source>
        <translation>Name</translation>
    </message>
</context>
<context>
    <name>TQuorelMainForm</name>
    <message>
        <source>【Tavelo】模拟考勤机</source>
        <translation>[Tavelo] Attendance Clock</translation>
    </message>
    <message>
        <source>电源关</source>
        <translation>Power off</translation>
    </message>
    <message>
        <source>读卡区</source>
        <translation>Card reader</translation>
    </message>
    <message>
        <source>点击这里，或按下回车键表示刷卡</source>
        <translation>Click here, or press Enter, to swipe a card</translation>
    </message>
</context>
<context>
    <name>TroubleText</name>
    <message>
        <source>数据库被其他程序锁定：%1 条刷卡待写入</source>
        <translation>Another program holds the database locked: %1 swipes waiting to be written</translation>
    </message>
    <message>
        <source>正在写入数据库：%1 条刷卡待写入</source>
        <translation>Writing to the database: %1 swipes waiting to be written</translation>
    </message>
    <message>
        <source>路径上的文件夹可被他人改动，不能信任（见错误日志）</source>
        <translation>a folder on the way may be changed by others and cannot be trusted (see the error log)</translation>
    </message>
    <message>
        <source>数据库旁有无法使用的日志文件，请管理员处理（见错误日志）</source>
        <translation>a journal or log beside the database cannot be used; ask an administrator (see the error log)</translation>
    </message>
    <message>
        <source>数据库被其他程序锁定</source>
        <translation>another program holds the database locked</translation>
    </message>
    <message>
        <source>磁盘已满</source>
        <translation>the disk is full</translation>
    </message>
    <message>
        <source>无权写入数据库</source>
        <translation>no permission to write the database</translation>
    </message>
    <message>
        <source>磁盘读写出错</source>
        <translation>the disk reported a read or write error</translation>
    </message>
    <message>
        <source>数据库文件已损坏</source>
        <translation>the database file is damaged</translation>
    </message>
    <message>
        <source>数据库文件无法打开</source>
        <translation>the database file cannot be opened</translation>
    </message>
    <message>
        <source>数据库文件不见了</source>
        <translation>the database file is gone</translation>
    </message>
    <message>
        <source>数据库被换成了 Access 文件</source>
        <translation>the database was replaced by an Access file</translation>
    </message>
    <message>
        <source>数据库路径是一个文件夹</source>
        <translation>the database path names a folder</translation>
    </message>
    <message>
        <source>数据库中没有考勤表</source>
        <translation>the database has no attendance table</translation>
    </message>
    <message>
        <source>该员工没有编号</source>
        <translation>this employee has no number</translation>
    </message>
    <message>
        <source>服务器拒绝了这次刷卡（原因见错误日志）</source>
        <translation>the server refused this swipe (see the error log)</translation>
    </message>
    <message>
        <source>服务器无法连接</source>
        <translation>the server cannot be reached</translation>
    </message>
    <message>
        <source>数据库 %1 所在的磁盘是只读的，无法写入</source>
        <translation>The disk of the database %1 is read-only: it cannot be written</translation>
    </message>
    <message>
        <source>无权写入数据库 %1</source>
        <translation>No permission to write the database %1</translation>
    </message>
    <message>
        <source>，请让管理员把您加入 %1 组</source>
        <translation>; ask an administrator to add you to the group %1</translation>
    </message>
    <message>
        <source>【%1 %2】 %3 刷卡失败！</source>
        <translation>[%1 %2] %3 swipe failed!</translation>
    </message>
    <message>
        <source>数据库出错</source>
        <translation>database error</translation>
    </message>
    <message>
        <source>刷卡失败：%1</source>
        <translation>Swipe failed: %1</translation>
    </message>
    <message>
        <source>无法打开数据库：文件夹 %1 不存在</source>
        <translation>Cannot open the database: the folder %1 does not exist</translation>
    </message>
    <message>
        <source>无法打开数据库：文件 %1 不存在</source>
        <translation>Cannot open the database: the file %1 does not exist</translation>
    </message>
    <message>
        <source>无法打开数据库：%1 是文件夹，不是数据库文件</source>
        <translation>Cannot open the database: %1 is a folder, not a database file</translation>
    </message>
    <message>
        <source>%1 是 Access 数据库，请先转换：kqdb import-mdb %1 新文件.sqlite</source>
        <translation>%1 is an Access database; convert it first: kqdb import-mdb %1 NEW.sqlite</translation>
    </message>
    <message>
        <source>无法打开数据库：%1 不是数据库文件</source>
        <translation>Cannot open the database: %1 is not a database file</translation>
    </message>
    <message>
        <source>数据库 %1 中没有员工表 employ</source>
        <translation>The database %1 has no employee table employ</translation>
    </message>
    <message>
        <source>无法打开数据库 %1：%2</source>
        <translation>Cannot open the database %1: %2</translation>
    </message>
    <message>
        <source>无法打开数据库 %1（原因见错误日志）</source>
        <translation>Cannot open the database %1 (see the error log)</translation>
    </message>
    <message>
        <source>本地存储 %1 无法写入：服务器断开时的刷卡将无法保存</source>
        <translation>The local store %1 cannot be written: swipes made while the server is away cannot be kept</translation>
    </message>
    <message>
        <source>%1 条已确认的刷卡在新服务器上缺失，已重新上传（见错误日志）</source>
        <translation>%1 confirmed swipes were missing on the new server and were sent again (see the error log)</translation>
    </message>
    <message>
        <source>本地存储已损坏，已移到一旁（见错误日志）；其中的 %1 条刷卡已重新排队</source>
        <translation>The local store was damaged and moved aside (see the error log); its %1 waiting swipes were queued again</translation>
    </message>
    <message>
        <source>刷卡副本已损坏，已移到一旁（见错误日志）；刷卡均在本地存储中，未丢失</source>
        <translation>The copy of the swipes was damaged and moved aside (see the error log); every swipe is in the local store, none lost</translation>
    </message>
    <message>
        <source>本地存储的日志文件被删除，刷卡已另行保存（见错误日志）</source>
        <translation>The log file of the local store was deleted; the swipes are kept in their copy (see the error log)</translation>
    </message>
    <message>
        <source>【%1 %2】 %3 刷卡成功！</source>
        <translation>[%1 %2] %3 swipe recorded!</translation>
    </message>
    <message>
        <source>【%1 %2】 %3 已刷卡</source>
        <translation>[%1 %2] %3 already recorded</translation>
    </message>
    <message>
        <source>刷卡失败！</source>
        <translation>Swipe failed!</translation>
    </message>
    <message>
        <source>本地存储无法写入（%1）</source>
        <translation>the local store cannot be written (%1)</translation>
    </message>
    <message>
        <source>员工名单是空的</source>
        <translation>the employee list is empty</translation>
    </message>
    <message>
        <source>服务器无法连接，本机也没有员工名单的副本</source>
        <translation>The server cannot be reached, and this PC has no copy of the employee list</translation>
    </message>
    <message>
        <source>无法从服务器读取员工名单（原因见错误日志）</source>
        <translation>Cannot read the employee list from the server (see the error log)</translation>
    </message>
    <message>
        <source>服务器无法连接（离线）：%1 条刷卡待上传</source>
        <translation>Server out of reach (offline): %1 swipes waiting to be sent</translation>
    </message>
    <message>
        <source>正在上传：%1 条刷卡待上传</source>
        <translation>Sending: %1 swipes waiting to be sent</translation>
    </message>
    <message>
        <source>%1 条刷卡被服务器拒绝，见错误日志</source>
        <translation>%1 swipes refused by the server, see the error log</translation>
    </message>
    <message>
        <source>；</source>
        <translation>; </translation>
    </message>
</context>
</TS>
