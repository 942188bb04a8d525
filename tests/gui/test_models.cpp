// The Qt models over the explorer's tree and the list data stay consistent through every
// kind of change the program makes.
#include <QAbstractItemModelTester>
#include <QIcon>
#include <QSignalSpy>
#include <QTest>

#include "core/adapter/explorer.h"
#include "core/adapter/list_data.h"
#include "gui/controls/list_model.h"
#include "gui/controls/tree_model.h"

using namespace kestrum;

class TestModels : public QObject {
  Q_OBJECT
 private slots:
  void treeFollowsEveryChange() {
    CExplorer ex;
    gui::TreeModel model(ex);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    std::vector<DiskObject> objs(50);
    const NodeId root = ex.AddNode("My Computer", &objs[0], true);
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(model.rowCount(model.IndexOf(root)), 1);  // the placeholder
    const NodeId drive =
        ex.AddNode("b drive", &objs[1], true, root, std::string("HardDrive"), std::nullopt, true);
    QCOMPARE(model.rowCount(model.IndexOf(root)), 1);  // the placeholder gave way
    QVERIFY(!model.IndexOf(drive).data(Qt::DecorationRole).value<QIcon>().isNull());
    for (int i = 2; i < 50; ++i)
      ex.AddNode("folder " + std::to_string(50 - i), &objs[i], i % 3 == 0, drive, std::nullopt,
                 std::nullopt, true);
    QCOMPARE(model.rowCount(model.IndexOf(drive)), 48);
    // Sorted children: rows are in text order, and each index maps back to its node.
    const QModelIndex first = model.index(0, 0, model.IndexOf(drive));
    QCOMPARE(first.data().toString(), QString("folder 1"));
    QCOMPARE(model.IndexOf(model.NodeAt(first)), first);
    QCOMPARE(model.parent(first), model.IndexOf(drive));
    ex.TV_Expand(ex.NodeOfData(&objs[3]));
    ex.RemoveNodeByData(&objs[10]);
    ex.RemoveNode(drive);
    QCOMPARE(model.rowCount(model.IndexOf(root)), 0);
    ex.ClearNodes();
    QCOMPARE(model.rowCount(), 0);
  }

  void detachedSubtreeArrivesInOneInsertion() {
    CExplorer ex;
    gui::TreeModel model(ex);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    const NodeId drive = ex.AddNode("drive", {}, true, kNoNode, std::nullopt, std::nullopt, true);
    const NodeId top = ex.AddDetachedNode("root", {}, true, std::nullopt, std::nullopt, true);
    NodeId parent = top;
    for (int i = 0; i < 500; ++i)
      parent = ex.AddNode(std::to_string(i), {}, i % 7 == 0, i % 5 ? parent : top, std::nullopt,
                          std::nullopt, true);
    const int before = inserted.count();
    ex.AttachNode(top, drive);
    QCOMPARE(inserted.count(), before + 1);
    QCOMPARE(model.rowCount(model.IndexOf(drive)), 1);
    QVERIFY(model.rowCount(model.IndexOf(top)) > 1);
    ex.RemoveNode(top);
    QCOMPARE(model.rowCount(model.IndexOf(drive)), 0);
  }

  void nonUtf8NamesAreShownNotLost() {
    CExplorer ex;
    gui::TreeModel model(ex);
    const std::string raw = "caf\xe9 \"q\"\nx";
    const NodeId n = ex.AddNode(raw, {}, false);
    QVERIFY(model.IndexOf(n).data().toString().contains(QChar(0xFFFD)));
    QCOMPARE(ex.Node(n)->Text, raw);
  }

  void listFollowsRowsAndColumns() {
    ListData list;
    CExplorer ex;
    ex.Init(&list);
    gui::ListModel model(list);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy columns(&model, &gui::ListModel::ColumnsReset);
    list.Width = 9000;
    ex.SetColumns({std::string("Name"), 3000.0, std::string("Size")});
    QCOMPARE(columns.count(), 3);  // cleared, then two added
    QCOMPARE(model.columnCount(), 2);
    QCOMPARE(model.headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), QString("Size"));
    ex.AddItem("b", "File", {"2 kb"});
    ex.AddItem2("a", "k", "File", {"1 kb"});
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.index(1, 1).data().toString(), QString("1 kb"));
    list.SetSorted(true);
    QCOMPARE(model.index(0, 0).data().toString(), QString("a"));
    // A further name of a linked file says so to the pointer and to a screen reader.
    list.Item(1)->CountedElsewhere = true;
    for (const int role : {int(Qt::ToolTipRole), int(Qt::AccessibleDescriptionRole)})
      QVERIFY(model.index(0, 0).data(role).toString().contains("hard link counted elsewhere"));
    QVERIFY(!model.index(1, 0).data(Qt::AccessibleDescriptionRole).toString().contains("hard"));
    ex.RemoveItem(std::string("k"));
    QCOMPARE(model.rowCount(), 1);
    ex.ClearItems();
    QCOMPARE(model.rowCount(), 0);
  }
};

QTEST_MAIN(TestModels)
#include "test_models.moc"
