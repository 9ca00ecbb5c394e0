// Times the album tree of the main window on a model of 20,000 albums, on the
// headless platform: filling the tree, and toggling the root with the relabel
// of every item, each until the window has painted.
#include "BenchSupport.h"
#include "SyntheticTree.h"

#include "app/LyrafetchDoc.h"
#include "ui/LyrafetchView.h"
#include "ui/MainFrame.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    const std::vector<std::string> params;
    CLyrafetchDoc doc(params);
    doc.m_pModel = BuildTree(2000, 10, 12);
    CMainFrame frame(doc);
    CLyrafetchView& view = *frame.View();
    frame.show();
    QApplication::processEvents();

    const auto settle = [&] {
        frame.repaint();
        QApplication::processEvents();
    };
    const int runs = 10;
    const double fill = BestSeconds(runs, [&] {
        view.OnInitialUpdate();
        settle();
    });
    view.expandAll();
    settle();
    const QModelIndex root = view.model()->index(0, 0);
    const double toggle = BestSeconds(runs, [&] {
        view.ToggleItem(root);
        settle();
    });
    std::printf("view benchmark: %d albums, best of %d runs, offscreen (goal: each under 100 ms)\n",
                doc.m_pModel->m_albums, runs);
    std::printf("  fill the tree                  %8.2f ms\n", fill * 1000);
    std::printf("  toggle the root, all expanded  %8.2f ms\n", toggle * 1000);
    return 0;
}
