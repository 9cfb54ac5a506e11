// The integrator's path with the command-line host, a Linux program: the
// README's example files through tools/drvtest against the emulator on
// loopback TCP.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>

#include "uEmulator.h"

namespace {

using fr::TEmuConfig;
using fr::TEmulator;

// Output and exit status of a shell command.
std::pair<std::string, int> RunProgram(const std::string& ACommand) {
    std::string Out;
    FILE* P = popen(ACommand.c_str(), "r");
    if (!P) return {Out, -1};
    char Buf[4096];
    size_t N;
    while ((N = fread(Buf, 1, sizeof Buf, P)) > 0) Out.append(Buf, N);
    const int Status = pclose(P);
    return {Out, WIFEXITED(Status) ? WEXITSTATUS(Status) : -1};
}

// The integrator's path with the command-line host and the example files
// of the README: read the data, register, re-register, print the reports.
TEST(DrvTest, RegistersFromFileAndPrintsDocuments) {
    TEmuConfig C;
    C.Fiscalised = false;
    TEmulator Emu(C);
    const uint16_t Port = Emu.StartTCP();
    const std::filesystem::path Examples = std::filesystem::path(FR_SOURCE_DIR) / "tools/examples";
    const auto [Out, Status] =
        RunProgram(std::string(FR_BINARY_DIR) + "/tools/drvtest --lib '" + FR_LIBRARY_PATH +
                   "' call SetParameter s:НомерПорта i:9999 -- call SetParameter s:IPПорт i:" + std::to_string(Port) +
                   " -- call Open e -- kkt-data -- register '" + (Examples / "registration.xml").string() +
                   "' -- reregister '" + (Examples / "reregistration.xml").string() + "' -- document 1 0 2>&1");
    EXPECT_EQ(Status, 0) << Out;
    for (const char* Line :
         {"  ККТ зарегистрирована           Fiscal               false\n", "OperationFN: registration done\n",
          "  Регистрационный номер ККТ      KKTNumber            0000000002023456\n",
          "  Системы налогообложения        TaxationSystems      0,2 (ОСН, УСН доход - расход)\n",
          "OperationFN: change of registration parameters done\n",
          "  Адрес расчетов                 SaleAddress          г. Москва, ул. Тверская, д. 7\n",
          "Document 1: Отчет о регистрации (type 1)\n", "  Кассир                     Иванов И.И.\n",
          "  ИНН кассира                500100732259\n",
          "Document 2: Отчет об изменении параметров регистрации (type 11)\n"})
        EXPECT_NE(Out.find(Line), std::string::npos) << Line << "\n" << Out;
    EXPECT_EQ(Emu.Device().Documents().back().Type, 11);
}

}  // namespace
