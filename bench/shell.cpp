// velmora-bench-shell: how long 用户管理 takes to open on a shop's database (its operators read and listed, the
// dialog shown), beside the sign-on's operator list (the login dialog shown, its list filled from tuser), on the
// offscreen platform. bench/run.sh runs it on the large shop's file and server copies; a measurement, not a test.
//
//   velmora-bench-shell SOURCE [--db-user R] [--db-password P] [--runs N] [--hash-passwords]
//
// SOURCE is a database file or a server's URI. --hash-passwords first stores every plain password as its hash
// (as velmora-db add-operator stores new ones), for a shop whose operators all have hashed passwords.

#include "data/dataset/Connection.h"
#include "data/dataset/Dataset.h"
#include "data/engines/PgBackend.h"
#include "data/module/DMod.h"
#include "data/module/Operators.h"
#include "data/provider/ConnectionString.h"
#include "login/TFlogin.h"
#include "mainwin/Tfmain.h"
#include "platform/Platform.h"
#include "shell/OperatorsDialog.h"

#include <QApplication>
#include <QDialog>
#include <QTableView>
#include <QtTest>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace velmora;
using Clock = std::chrono::steady_clock;

// Boxes answered at once, nothing paused: only the windows' own work is measured.
class QuietPlatform final : public Platform
{
public:
    MsgAnswer messageBox(const MessageBoxRequest&) override { return MsgAnswer::Ok; }
    void pause(int) override {}
    int showModal(QDialog&) override { return QDialog::Rejected; }
    void repaintNow(QWidget&) override {}
    void setApplicationTitle(const QString& title) override { m_title = title; }
    QString applicationTitle() const override { return m_title; }
    void requestEnd() override {}
    bool endRequested() const override { return false; }
    int runMessageLoop(QWidget*) override { return 0; }
    QString executableFolder() const override { return QString(); }

private:
    QString m_title;
};

struct Times
{
    std::vector<double> ms;
    double median()
    {
        std::sort(ms.begin(), ms.end());
        return ms.empty() ? 0 : ms[ms.size() / 2];
    }
    double spread() const
    {
        const auto [low, high] = std::minmax_element(ms.begin(), ms.end());
        return ms.empty() ? 0 : *high - *low;
    }
};

double since(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Shown, and drawn once, as a person would see it.
void showAndPaint(QWidget& window)
{
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        std::fprintf(stderr, "velmora-bench-shell: a window was not exposed\n");
    window.grab();
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: velmora-bench-shell SOURCE [--db-user R] [--db-password P] [--runs N] "
                             "[--hash-passwords]\n");
        return 2;
    }
    std::string source = argv[1];
    // A server's URI carries its role and password, as bench/server.sh gives it.
    std::string user = data::isServerSource(source) ? "" : "Admin";
    std::optional<std::string> password;
    int runs = 9;
    bool hash = false;
    for (int i = 2; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--hash-passwords")
            hash = true;
        else if (i + 1 >= argc)
            break;
        else if (option == "--db-user")
            user = argv[++i];
        else if (option == "--db-password")
            password = argv[++i];
        else if (option == "--runs")
            runs = std::max(1, std::atoi(argv[++i]));
    }
    const bool server = data::isServerSource(source);
    if (!server)
        source = std::filesystem::absolute(source).string();

    try {
        QuietPlatform platform;
        data::TDMod dmod("/");
        dmod.ADOCON().setConnectionString(data::toolConnectionString(source, user, password));
        dmod.ADOCON().open();
        if (hash)
            std::printf("hashed %d plain passwords\n", data::hashPlainPasswords(dmod.ADOCON().backend()));
        dmod.toper().open();
        Tfmain main;
        Times list, users;
        std::size_t operators = 0;
        for (int run = 0; run < runs; ++run) {
            // The sign-on's list: tuser as the start-up opens it, and the login dialog filling its list from it.
            dmod.tuser().close();
            auto start = Clock::now();
            dmod.tuser().open();
            {
                TFlogin login(platform, main, dmod);
                showAndPaint(login);
                list.ms.push_back(since(start));
                login.setKeepsPreviousOperator(true);
                login.done(QDialog::Rejected);
            }
            start = Clock::now();
            {
                OperatorsDialog dialog(platform, dmod.ADOCON().backend(), QStringLiteral("1"));
                dialog.reload();
                showAndPaint(dialog);
                users.ms.push_back(since(start));
                operators = std::size_t(dialog.model().rowCount());
            }
        }
        const std::string where = server ? data::redactedServerUri(source) : source;
        std::printf("%s, %zu operators, %d runs (median, spread):\n", where.c_str(), operators, runs);
        std::printf("  sign-on's operator list (tuser opened, login dialog shown) %8.1f ms  %6.1f ms\n", list.median(),
                    list.spread());
        std::printf("  用户管理 opened (operators read, listed, shown)              %8.1f ms  %6.1f ms\n",
                    users.median(), users.spread());
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "velmora-bench-shell: %s\n", error.what());
        return 1;
    }
}
