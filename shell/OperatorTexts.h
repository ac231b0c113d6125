#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace velmora {

namespace data {
class OperatorError;
enum class PasswordWeakness;
} // namespace data

// What 用户管理 and 更换密码 say, in one place: the rights groups' labels and the refusals of the data layer's
// operator writes, worded from their kinds.

// The labels of the rights groups 0 to 6, in the order of the rights table.
const QStringList& rightsGroupLabels();
// The granted groups' labels joined in that order ("销售管理、库存管理"), "无" for none.
QString groupsText(const std::vector<int>& groups);

// Why a new password is refused; empty for none.
QString weaknessMessage(data::PasswordWeakness weakness);
// The refusal of an operator write; `userid` and `username` name the operator it was about.
QString operatorErrorText(const data::OperatorError& error, const QString& userid, const QString& username);

} // namespace velmora
