// Prints where this program's config.ini and Command.log live (the program folder's choice),
// for program_folder.sh: one line each, as native paths.
#include "platform/programfolder.h"

#include <QCoreApplication>
#include <QDir>
#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    vestrel::PrepareProgramFolders();
    std::printf("%s\n%s\n", qUtf8Printable(QDir::toNativeSeparators(vestrel::ProgramFolder())),
                qUtf8Printable(QDir::toNativeSeparators(vestrel::LogFolder())));
    std::fflush(stdout);
    return 0;
}
