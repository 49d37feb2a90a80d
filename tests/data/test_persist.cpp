// Persisted recordsets: rowset XML written and read back, files written by
// others (pending-change blocks), and bad files.

#include "data/Recordset.h"
#include "data/RowsetXml.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <limits>

using namespace ado;

namespace {

std::vector<FieldInfo> scheduleFields()
{
    return {{"ID", adDecimal, 10},   {"NAME", adChar, 255},     {"FROM", adDBTimeStamp, 0},
            {"EVERY", adDouble, 0},  {"KINDEVERY", adInteger, 2}, {"LASTRUN", adDBTimeStamp, 0},
            {"STATUS", adChar, 255}};
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

} // namespace

TEST(PersistedRecordset, RoundTripKeepsSchemaValuesNullsAndPadding)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("scheduleddata.xml");
    const QDateTime from(QDate(2024, 2, 29), QTime(23, 5, 9));

    Recordset rs = Recordset::CreateDisconnected(scheduleFields());
    ASSERT_TRUE(rs.isOpen());
    EXPECT_TRUE(rs.IsEOF());
    EXPECT_TRUE(rs.IsBOF());
    EXPECT_EQ(rs.RecordCount(), 0);

    ASSERT_TRUE(rs.AddNew());
    EXPECT_EQ(rs.EditMode(), adEditAdd);
    ASSERT_TRUE(rs.Fields("id").setValue(7));   // names are case-insensitive
    ASSERT_TRUE(rs.Fields("NAME").setValue(QString::fromUtf8("/data/Zoë's & <co> \"x\"\nline2.mdx")));
    ASSERT_TRUE(rs.Fields("FROM").setValue(from));
    ASSERT_TRUE(rs.Fields("EVERY").setValue(1.5));
    ASSERT_TRUE(rs.Fields("KINDEVERY").setValue("3"));
    ASSERT_TRUE(rs.Fields("STATUS").setValue("Active"));
    ASSERT_TRUE(rs.Update());
    EXPECT_EQ(rs.EditMode(), adEditNone);
    ASSERT_TRUE(rs.AddNew());
    ASSERT_TRUE(rs.Fields("ID").setValue(QStringLiteral("123456789012345678901234.5")));  // beyond a double
    ASSERT_TRUE(rs.Update());
    ASSERT_TRUE(rs.Save(path));

    Recordset back;
    ASSERT_TRUE(back.OpenFile(path)) << back.lastError().Description.toStdString();
    ASSERT_EQ(back.FieldCount(), 7);
    EXPECT_EQ(back.RecordCount(), 2);
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(back.Fields(i).Name(), rs.Fields(i).Name());
        EXPECT_EQ(back.Fields(i).Type(), rs.Fields(i).Type()) << i;
    }
    EXPECT_EQ(back.Fields("NAME").DefinedSize(), 255);
    EXPECT_EQ(back.Fields("ID").Value().toLongLong(), 7);
    const QString name = back.Fields("NAME").Value().toString();
    EXPECT_EQ(name.size(), 255);
    EXPECT_EQ(name.trimmed(), QString::fromUtf8("/data/Zoë's & <co> \"x\"\nline2.mdx"));
    EXPECT_EQ(back.Fields("FROM").Value().toDateTime(), from);
    EXPECT_DOUBLE_EQ(back.Fields("EVERY").Value().toDouble(), 1.5);
    EXPECT_EQ(back.Fields("KINDEVERY").Value(), QVariant(3));
    EXPECT_TRUE(back.Fields("LASTRUN").Value().isNull());
    EXPECT_EQ(back.Fields("STATUS").Value().toString().trimmed(), "Active");
    ASSERT_TRUE(back.MoveNext());
    EXPECT_EQ(back.Fields("ID").Value().toString(), "123456789012345678901234.5");
    EXPECT_TRUE(back.Fields("NAME").Value().isNull());
    EXPECT_EQ(back.AbsolutePosition(), 2);
    ASSERT_TRUE(back.MoveNext());
    EXPECT_TRUE(back.IsEOF());

    // Absent attributes are Null and dates use the documented form.
    const QByteArray xml = readAll(path);
    EXPECT_TRUE(xml.contains("FROM='2024-02-29T23:05:09'"));
    EXPECT_FALSE(xml.contains("LASTRUN='"));

    // Change and delete in memory, save over the file it came from.
    ASSERT_TRUE(back.MoveFirst());
    ASSERT_TRUE(back.Fields("STATUS").setValue("Inactive"));
    EXPECT_EQ(back.EditMode(), adEditInProgress);
    ASSERT_TRUE(back.Update());
    ASSERT_TRUE(back.MoveLast());
    ASSERT_TRUE(back.Delete());
    ASSERT_TRUE(back.Save());
    Recordset again;
    ASSERT_TRUE(again.OpenFile(path));
    EXPECT_EQ(again.RecordCount(), 1);
    EXPECT_EQ(again.Fields("STATUS").Value().toString().trimmed(), "Inactive");
}

TEST(PersistedRecordset, ValuesThatDoNotFitAreRefusedAndRowKeepsOldValue)
{
    Recordset rs = Recordset::CreateDisconnected(
        {{"N", adInteger, 4}, {"S", adVarWChar, 5}, {"D", adDBTimeStamp, 0}, {"F", adSingle, 4}});
    ASSERT_TRUE(rs.AddNew());
    ASSERT_TRUE(rs.Fields("N").setValue(1));
    EXPECT_FALSE(rs.Fields("N").setValue("abc"));
    EXPECT_EQ(rs.lastError().Number, adErrMultipleStep);
    EXPECT_FALSE(rs.Fields("N").setValue(qlonglong(1) << 40));
    EXPECT_FALSE(rs.Fields("S").setValue("123456"));
    EXPECT_FALSE(rs.Fields("D").setValue("not a date"));
    EXPECT_EQ(rs.Fields("N").Value(), QVariant(1));
    ASSERT_TRUE(rs.Fields("F").setValue(2));
    EXPECT_FALSE(rs.Fields("F").setValue(1e39));
    EXPECT_FALSE(rs.Fields("F").setValue(std::numeric_limits<double>::infinity()));
    EXPECT_EQ(rs.Fields("F").Value(), QVariant(2.0));
    ASSERT_TRUE(rs.Fields("D").setValue("2/3/2021 1:02:03 PM"));
    EXPECT_EQ(rs.Fields("D").Value().toDateTime(), QDateTime(QDate(2021, 2, 3), QTime(13, 2, 3)));
}

TEST(PersistedRecordset, ErrorsForMissingItemsAndPositions)
{
    Recordset closed;
    EXPECT_FALSE(closed.MoveNext());
    EXPECT_EQ(closed.lastError().Number, adErrObjectClosed);

    Recordset rs = Recordset::CreateDisconnected({{"A", adInteger, 4}});
    EXPECT_FALSE(rs.Fields("nope").isValid());
    EXPECT_EQ(rs.lastError().Number, adErrItemNotFound);
    EXPECT_TRUE(rs.Fields("A").Value().isNull());
    EXPECT_EQ(rs.lastError().Number, adErrNoCurrentRecord);
    EXPECT_FALSE(rs.Delete());
    EXPECT_EQ(rs.lastError().Number, adErrNoCurrentRecord);
}

TEST(PersistedRecordset, ReadsHandWrittenFileWithPendingChanges)
{
    const QByteArray sample = R"(<xml xmlns:s='uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882'
 xmlns:dt='uuid:C2F41010-65B3-11d1-A29F-00AA00C14882'
 xmlns:rs='urn:schemas-microsoft-com:rowset' xmlns:z='#RowsetSchema'>
<s:Schema id='RowsetSchema'>
 <s:ElementType name='row' content='eltOnly' rs:updatable='true'>
  <s:AttributeType name='ID' rs:number='1' rs:nullable='true' rs:writeunknown='true'>
   <s:datatype dt:type='number' rs:dbtype='decimal' dt:maxLength='19' rs:scale='0' rs:precision='10'/>
  </s:AttributeType>
  <s:AttributeType name='c1' rs:name='Job Name' rs:number='2' rs:nullable='true' rs:writeunknown='true'>
   <s:datatype dt:type='string' rs:dbtype='str' dt:maxLength='10' rs:fixedlength='true'/>
  </s:AttributeType>
  <s:AttributeType name='WHEN' rs:number='3' rs:nullable='true' rs:writeunknown='true'>
   <s:datatype dt:type='dateTime' rs:dbtype='timestamp' dt:maxLength='16' rs:scale='0' rs:precision='19' rs:fixedlength='true'/>
  </s:AttributeType>
  <s:AttributeType name='OK' rs:number='4' rs:nullable='true'>
   <s:datatype dt:type='boolean' dt:maxLength='2' rs:fixedlength='true'/>
  </s:AttributeType>
  <s:extends type='rs:rowbase'/>
 </s:ElementType>
</s:Schema>
<rs:data>
 <z:row ID='1' c1='first' WHEN='2020-01-02T03:04:05' OK='True'/>
 <rs:update>
  <rs:original><z:row ID='2' c1='old' WHEN='2020-01-02T00:00:00'/></rs:original>
  <z:row c1='new'/>
 </rs:update>
 <rs:delete><z:row ID='3' c1='gone'/></rs:delete>
 <rs:insert>
  <z:row ID='4' c1='added'/>
  <z:row ID='5'/>
 </rs:insert>
</rs:data>
</xml>)";
    Recordset rs;
    ASSERT_TRUE(rs.OpenXml(sample)) << rs.lastError().Description.toStdString();
    ASSERT_EQ(rs.FieldCount(), 4);
    EXPECT_EQ(rs.Fields(1).Name(), "Job Name");
    EXPECT_EQ(rs.Fields(0).Type(), adDecimal);
    EXPECT_EQ(rs.Fields(1).Type(), adChar);
    EXPECT_EQ(rs.Fields(2).Type(), adDBTimeStamp);
    EXPECT_EQ(rs.Fields(3).Type(), adBoolean);
    ASSERT_EQ(rs.RecordCount(), 4);
    QStringList names, ids;
    for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext()) {
        ids << rs.value(0).toString();
        names << rs.value("job name").toString();
    }
    EXPECT_EQ(ids, QStringList({"1", "2", "4", "5"}));
    EXPECT_EQ(names, QStringList({"first     ", "new       ", "added     ", ""}));
    rs.MoveFirst();
    EXPECT_EQ(rs.value("OK"), QVariant(true));
    rs.MoveNext();
    EXPECT_EQ(rs.value("WHEN").toDateTime(), QDateTime(QDate(2020, 1, 2), QTime(0, 0)));

    // What we write, we read again with the odd field name intact.
    Recordset again;
    ASSERT_TRUE(again.OpenXml(rs.toXml()));
    EXPECT_EQ(again.Fields(1).Name(), "Job Name");
    EXPECT_EQ(again.RecordCount(), 4);
}

// A type name the reader does not know is text; fixed-length and long text
// keep their kind, so the file we write from it reads back the same.
TEST(PersistedRecordset, UnknownTypeIsTextAndKeepsItsKindWhenWrittenAgain)
{
    const QByteArray sample = R"(<xml xmlns:s='uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882'
 xmlns:dt='uuid:C2F41010-65B3-11d1-A29F-00AA00C14882'
 xmlns:rs='urn:schemas-microsoft-com:rowset' xmlns:z='#RowsetSchema'>
<s:Schema id='RowsetSchema'><s:ElementType name='row' content='eltOnly'>
 <s:AttributeType name='F' rs:number='1'><s:datatype dt:type='boolgean' dt:maxLength='2' rs:fixedlength='true'/></s:AttributeType>
 <s:AttributeType name='L' rs:number='2'><s:datatype dt:type='blob' rs:long='true'/></s:AttributeType>
</s:ElementType></s:Schema>
<rs:data><z:row F='x' L='long'/></rs:data>
</xml>)";
    RowsetData first;
    QString error;
    ASSERT_TRUE(readRowsetXml(sample, first, &error)) << error.toStdString();
    ASSERT_EQ(first.fields.size(), 2u);
    EXPECT_EQ(first.fields[0].type, adWChar);
    EXPECT_EQ(first.fields[1].type, adLongVarWChar);
    EXPECT_EQ(first.rows.at(0).at(0).toString(), "x ");

    RowsetData second;
    ASSERT_TRUE(readRowsetXml(writeRowsetXml(first), second, &error)) << error.toStdString();
    ASSERT_EQ(second.fields.size(), 2u);
    EXPECT_EQ(second.fields[0].type, first.fields[0].type);
    EXPECT_EQ(second.fields[1].type, first.fields[1].type);
    EXPECT_EQ(second.rows, first.rows);
}

TEST(PersistedRecordset, BadFilesGiveClearErrorsAndChangeNothing)
{
    QTemporaryDir dir;
    Recordset good = Recordset::CreateDisconnected({{"A", adInteger, 4}});
    good.AddNew();
    good.Fields(0).setValue(1);
    good.Update();
    const QString path = dir.filePath("store.xml");
    ASSERT_TRUE(good.Save(path));
    const QByteArray full = readAll(path);

    Recordset rs;
    EXPECT_FALSE(rs.OpenFile(dir.filePath("missing.xml")));
    EXPECT_TRUE(rs.lastError().Description.contains("does not exist"));
    EXPECT_FALSE(rs.isOpen());

    // Cut within the schema: nothing to read. Cut within the last row (a
    // writer killed while appending it): the rows before it.
    const QString truncated = dir.filePath("truncated.xml");
    writeAll(truncated, full.left(full.indexOf("<s:AttributeType") + 20));
    EXPECT_FALSE(rs.OpenFile(truncated));
    EXPECT_TRUE(rs.lastError().Description.contains("not a valid persisted recordset"))
        << rs.lastError().Description.toStdString();
    EXPECT_FALSE(rs.isOpen());
    writeAll(truncated, full.left(full.size() - 20));
    ASSERT_TRUE(rs.OpenFile(truncated)) << rs.lastError().Description.toStdString();
    EXPECT_EQ(rs.RecordCount(), 0);
    rs.Close();
    // Damage followed by further rows is no cut append: the file is refused.
    QByteArray twoRows = full;
    twoRows.replace("<z:row A='1'/>", "<z:row A='1'/>\n\t<z:row A='2'/>\n\t<z:row A='3'/>");
    twoRows.replace("A='2'", "A='2");
    writeAll(truncated, twoRows);
    EXPECT_FALSE(rs.OpenFile(truncated));

    const QString notXml = dir.filePath("notxml.xml");
    writeAll(notXml, "ID;NAME\n1;x\n");
    EXPECT_FALSE(rs.OpenFile(notXml));
    const QString empty = dir.filePath("empty.xml");
    writeAll(empty, "");
    EXPECT_FALSE(rs.OpenFile(empty));
    const QString noSchema = dir.filePath("noschema.xml");
    writeAll(noSchema, "<xml><a/></xml>");
    EXPECT_FALSE(rs.OpenFile(noSchema));
    EXPECT_TRUE(rs.lastError().Description.contains("schema"));

    // A value that XML cannot carry is written with U+FFFD in its place:
    // the row is kept.
    Recordset odd = Recordset::CreateDisconnected({{"S", adVarWChar, 10}});
    odd.AddNew();
    odd.Fields(0).setValue(QString("a") + QChar(1) + QChar(0xD800) + "b");
    odd.Update();
    ASSERT_TRUE(odd.Save(path));
    Recordset back;
    ASSERT_TRUE(back.OpenFile(path)) << back.lastError().Description.toStdString();
    ASSERT_EQ(back.RecordCount(), 1);
    const QString replaced(QChar::ReplacementCharacter);
    EXPECT_EQ(back.value(0).toString(), "a" + replaced + replaced + "b");
}

// A schedule as an ADO program saves it after clearing a job's end (TO) and
// adding a job, with a description holding a control character, fractions of
// a second and attributes this reader does not know.
TEST(PersistedRecordset, ReadsWhatAdoSavesAndWritesItBackWhole)
{
    QByteArray sample = R"(<xml xmlns:s='uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882'
	xmlns:dt='uuid:C2F41010-65B3-11d1-A29F-00AA00C14882'
	xmlns:rs='urn:schemas-microsoft-com:rowset'
	xmlns:z='#RowsetSchema'>
<s:Schema id='RowsetSchema'>
	<s:ElementType name='row' content='eltOnly' rs:updatable='true' rs:CommandTimeout='30'>
		<s:AttributeType name='ID' rs:number='1' rs:nullable='true' rs:writeunknown='true' rs:hidden='false'>
			<s:datatype dt:type='number' rs:dbtype='decimal' dt:maxLength='16' rs:scale='0' rs:precision='10'
			 rs:fixedlength='true'/>
		</s:AttributeType>
		<s:AttributeType name='NAME' rs:number='2' rs:nullable='true' rs:writeunknown='true' rs:rowver='false'>
			<s:datatype dt:type='string' rs:dbtype='str' dt:maxLength='12' rs:fixedlength='true' rs:unknown='1'/>
		</s:AttributeType>
		<s:AttributeType name='TO' rs:number='3' rs:nullable='true' rs:writeunknown='true'>
			<s:datatype dt:type='dateTime' rs:dbtype='timestamp' dt:maxLength='16' rs:scale='0' rs:precision='19'
			 rs:fixedlength='true'/>
		</s:AttributeType>
		<s:AttributeType name='ERRDESC' rs:number='4' rs:nullable='true' rs:writeunknown='true'>
			<s:datatype dt:type='string' rs:dbtype='str' dt:maxLength='40'/>
		</s:AttributeType>
		<s:extends type='rs:rowbase'/>
	</s:ElementType>
</s:Schema>
<rs:data>
	<z:row ID='1' NAME='kept' TO='2024-05-06T08:00:00.123000000' ERRDESC='Type mismatch: &apos;a<CTRL>b&apos;'
		 LATER='not a field'/>
	<rs:update>
		<rs:original>
			<z:row ID='2' NAME='cleared' TO='2020-01-01T00:00:00' ERRDESC='x'/>
		</rs:original>
		<z:row rs:forcenull='TO ERRDESC'/>
	</rs:update>
	<rs:insert>
		<z:row ID='3' NAME='added' ERRDESC='y' rs:forcenull='TO'/>
	</rs:insert>
</rs:data>
</xml>
)";
    sample.replace("<CTRL>", "\x01");
    RowsetData data;
    QString error;
    ASSERT_TRUE(readRowsetXml(sample, data, &error)) << error.toStdString();
    ASSERT_EQ(data.fields.size(), 4u);
    ASSERT_EQ(data.rows.size(), 3u);
    EXPECT_EQ(data.rows[0][2].toDateTime(), QDateTime(QDate(2024, 5, 6), QTime(8, 0, 0, 123)));
    EXPECT_EQ(data.rows[0][3].toString(), QString("Type mismatch: 'a") + QChar(1) + "b'");
    EXPECT_EQ(data.rows[1][1].toString().trimmed(), "cleared");
    EXPECT_TRUE(data.rows[1][2].isNull()) << "rs:forcenull clears the original value";
    EXPECT_TRUE(data.rows[1][3].isNull());
    EXPECT_EQ(data.rows[2][0].toInt(), 3);
    EXPECT_TRUE(data.rows[2][2].isNull());

    // Written again: every value kept, the control character as U+FFFD so
    // that the row is kept and the file is XML any reader takes.
    const QByteArray written = writeRowsetXml(data);
    EXPECT_TRUE(written.contains("TO='2024-05-06T08:00:00.123000000'")) << written.toStdString();
    EXPECT_TRUE(written.contains("rs:dbtype='decimal' dt:maxLength='16'")) << written.toStdString();
    EXPECT_FALSE(written.contains('\x01'));
    RowsetData again;
    ASSERT_TRUE(readRowsetXml(written, again, &error)) << error.toStdString();
    ASSERT_EQ(again.rows.size(), 3u);
    data.rows[0][3] = QString("Type mismatch: 'a") + QChar(QChar::ReplacementCharacter) + "b'";
    EXPECT_EQ(again.rows, data.rows);
    EXPECT_EQ(again.fields[0].definedSize, 10);
}
