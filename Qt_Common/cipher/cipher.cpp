#include "cipher.h"

#include <utility>

const char* const builtInPassPhrase = "7JD@ao9zuiNW7.>,/b,~h%tiFf!ENHFz0Y^*r_-<s<_$,Wzr9y3TFdK$syiM|.&!";

std::vector<RecordCipher::Failure> RecordCipher::takeFailures() {
    return std::exchange(failures, {});
}

void RecordCipher::fail(const char* message, unsigned long code) {
    failures.push_back({message, code});
}
