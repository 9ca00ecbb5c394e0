// Times the album tree of the main window on the headless platform, each step
// until the window has painted: on a nested library of 20,000 albums (2,000
// artists of 10), filling the tree and toggling the root with every item
// expanded; on a flat library of 50,000 albums in the root, filling the tree
// (which puts the root's 50,000 folders in the order shown, as the root opens),
// expanding the root and toggling it. On both, typing into the filter field: the first
// letter (which folds every name of the tree), one more letter, a letter that
// keeps every album shown, a toggle of the root in a filtered tree, and
// clearing the field back to the whole tree. Then the plan of the Copy Files
// dialog for 5,000 albums to copy, filled and shown.
#include "BenchSupport.h"
#include "SyntheticTree.h"

#include "app/LyrafetchDoc.h"
#include "ui/CopyFilesDlg.h"
#include "ui/FilterBar.h"
#include "ui/LyrafetchView.h"
#include "ui/MainFrame.h"

#include <QApplication>
#include <QLineEdit>

#include <cstdio>
#include <cstdlib>

namespace {

void Measure(const char* shape, int artists, int albumsPerArtist)
{
    const std::vector<std::string> params;
    CLyrafetchDoc doc(params);
    doc.m_pModel = BuildTree(artists, albumsPerArtist, 12);
    doc.m_allocationUnit = 32 * 1024; // a card's clusters: the free space counts them on every change
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
    const QModelIndex root = view.model()->index(0, 0);
    const double expand = BestSeconds(runs, [&] {
        view.collapse(root);
        settle();
        view.expand(root);
        settle();
    });
    view.expandAll();
    settle();
    const double toggle = BestSeconds(runs, [&] {
        view.ToggleItem(root);
        settle();
    });

    QLineEdit& field = *frame.FilterBar()->Field();
    const auto type = [&](const char* text) {
        return [&field, &settle, text] {
            field.setText(text);
            settle();
        };
    };
    const double firstLetter = BestSeconds(
        runs,
        [&] {
            type("")();
            view.FillTree(); // a new tree: its names are folded again on the first letter
        },
        type("1"));
    type("")();
    view.expandAll(); // clearing the filter opens the whole tree again
    settle();
    const double oneMore = BestSeconds(runs, type("Album 1"), type("Album 12"));
    const double allShown = BestSeconds(runs, type("a"), type("al"));
    type("Album 1")();
    const int albumsShown = frame.FilterBar()->CountText().split(' ').front().toInt();
    const double filteredToggle = BestSeconds(runs, [&] {
        view.ToggleItem(root);
        settle();
    });
    const double clear = BestSeconds(runs, type("Album 12"), type(""));

    std::printf("%s: %d albums, best of %d runs, offscreen (goal: each under 50 ms, filter under 100 ms)\n", shape,
                doc.m_pModel->m_albums, runs);
    std::printf("  fill the tree                      %8.2f ms\n", fill * 1000);
    std::printf("  collapse and expand the root       %8.2f ms\n", expand * 1000);
    std::printf("  toggle the root, all expanded      %8.2f ms\n", toggle * 1000);
    std::printf("  filter: first letter               %8.2f ms\n", firstLetter * 1000);
    std::printf("  filter: one more letter            %8.2f ms\n", oneMore * 1000);
    std::printf("  filter: a letter that shows all    %8.2f ms\n", allShown * 1000);
    std::printf("  toggle the root of %5d shown     %8.2f ms\n", albumsShown, filteredToggle * 1000);
    std::printf("  clear the filter                   %8.2f ms\n", clear * 1000);
}

// 1,000 artists of 10 albums, half of them on the player: selecting them all
// copies 5,000.
void MeasurePlan()
{
    CLyrafetchDoc doc({});
    doc.m_pModel = BuildTree(1000, 10, 12);
    doc.m_pModel->ApplySelection(SELECT_ALL);
    CCopyFilesDlg dialog;
    dialog.m_pDoc = &doc;
    const int runs = 10;
    const double fill = BestSeconds(runs, [&] {
        dialog.OnInitDialog();
        dialog.show();
        dialog.repaint();
        QApplication::processEvents();
    });
    std::printf("plan: %d albums to copy, best of %d runs, offscreen (goal: under 100 ms)\n",
                doc.m_pModel->CountAlbumsToCopy(), runs);
    std::printf("  fill and show the plan             %8.2f ms\n", fill * 1000);
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    Measure("nested library", 2000, 10);
    Measure("flat library", 50000, 0);
    MeasurePlan();
    return 0;
}
