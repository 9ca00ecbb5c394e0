#include "ui/MainWindowFixture.h"

#include "support/LoadDocument.h"

#include <QCoreApplication>
#include <QTest>

void MainWindowFixture::Open(const std::string& description)
{
    m_fixture.Create("computer/\nplayer/\n" + description);
    m_doc.m_params = {(m_fixture / "computer").string(), (m_fixture / "player").string()};
    ASSERT_TRUE(LoadDocument(m_doc));
    View().OnInitialUpdate();
    m_frame.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_frame));
}

QModelIndex MainWindowFixture::Item(const std::u16string& path)
{
    CFolderNode* node = m_doc.m_pModel.get();
    for (std::size_t start = 0; start < path.size();) {
        const std::size_t end = std::min(path.find(u'/', start), path.size());
        for (const auto& child : node->m_children) {
            if (child->GetKeyName() == path.substr(start, end - start)) {
                node = child.get();
            }
        }
        start = end + 1;
    }
    const QModelIndex item = View().ItemOf(node);
    for (QModelIndex parent = item.parent(); parent.isValid(); parent = parent.parent()) {
        View().expand(parent);
    }
    return item;
}

void MainWindowFixture::ClickImage(const QModelIndex& item)
{
    QTest::mouseClick(View().viewport(), Qt::LeftButton, {}, View().ImageRect(item).center());
    QCoreApplication::processEvents();
}

std::string MainWindowFixture::Rows()
{
    std::string rows;
    for (QModelIndex item = View().model()->index(0, 0); item.isValid(); item = View().indexBelow(item)) {
        for (QModelIndex parent = item.parent(); parent.isValid(); parent = parent.parent()) {
            rows += "  ";
        }
        rows += Label(item) + "\n";
    }
    return rows;
}
