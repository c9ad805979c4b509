#include "report/Doctor.h"

#include <algorithm>

namespace lumo {

bool isDoctorCommand(const std::vector<std::string>& arguments) {
    return std::find(arguments.begin(), arguments.end(), "--doctor") != arguments.end();
}

int runDoctorCommand(const std::vector<std::string>&, std::ostream&, std::ostream& err) {
    err << "The doctor report is not built yet.\n";
    return 2;
}

}  // namespace lumo
