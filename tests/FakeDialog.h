// A dialog box for tests: records every request and gives a set answer.
#pragma once

#include <vector>

#include "zip/ZADialogProvider.h"

class FakeDialog : public TZADialogProvider {
public:
    TZADialogAnswer ShowDialog(const TZADialogRequest& r) override {
        requests.push_back(r);
        return answer;
    }
    std::vector<TZADialogRequest> requests;
    TZADialogAnswer answer{mrOk, {}};
};
