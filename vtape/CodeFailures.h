// The faults that fail commands about one page or buffer (CCodeFailRule),
// counted while the drive lives.
#ifndef VTAPE_CODEFAILURES_H
#define VTAPE_CODEFAILURES_H

#include <cstdint>
#include <vector>

#include "DriveSetup.h"

class CCodeFailures {
public:
    explicit CCodeFailures(const std::vector<CCodeFailRule>& rules) : m_rules(rules), m_failed(rules.size(), 0) {}

    // Whether this command about `code` fails; a rule limited to N failures
    // counts it.
    bool Fails(unsigned char code)
    {
        for (size_t i = 0; i < m_rules.size(); ++i) {
            if (m_rules[i].code != code) {
                continue;
            }
            if (m_rules[i].times == 0) {
                return true;
            }
            if (m_failed[i] < m_rules[i].times) {
                ++m_failed[i];
                return true;
            }
        }
        return false;
    }

private:
    std::vector<CCodeFailRule> m_rules;
    std::vector<uint32_t> m_failed;
};

// The rule for `code`, or null.
inline const CCodeFailRule* FindCodeRule(const std::vector<CCodeFailRule>& rules, unsigned char code)
{
    for (const CCodeFailRule& rule : rules) {
        if (rule.code == code) {
            return &rule;
        }
    }
    return nullptr;
}

#endif
