#include "shell/OperatorTexts.h"

#include "data/module/Operators.h"

namespace velmora {

const QStringList& rightsGroupLabels()
{
    static const QStringList labels{QStringLiteral("销售管理"), QStringLiteral("库存管理"), QStringLiteral("数据统计"),
                                    QStringLiteral("药品管理"), QStringLiteral("其它信息"), QStringLiteral("用户管理"),
                                    QStringLiteral("数据备份")};
    return labels;
}

QString groupsText(const std::vector<int>& groups)
{
    QStringList granted;
    for (int group = 0; group < rightsGroupLabels().size(); ++group) {
        for (int g : groups) {
            if (g == group) {
                granted << rightsGroupLabels().at(group);
                break;
            }
        }
    }
    return granted.isEmpty() ? QStringLiteral("无") : granted.join(QStringLiteral("、"));
}

QString weaknessMessage(data::PasswordWeakness weakness)
{
    switch (weakness) {
    case data::PasswordWeakness::Empty:
        return QStringLiteral("密码不能为空!");
    case data::PasswordWeakness::Prefill:
        return QStringLiteral("密码不能是登录窗口预先填好的密码 %1!")
            .arg(QString::fromUtf8(data::LoginPrefillPassword.data(), int(data::LoginPrefillPassword.size())));
    case data::PasswordWeakness::TooShort:
        return QStringLiteral("密码至少要有 %1 个字符!").arg(data::MinimumPasswordLength);
    case data::PasswordWeakness::None:
        break;
    }
    return {};
}

QString operatorErrorText(const data::OperatorError& error, const QString& userid, const QString& username)
{
    switch (error.kind()) {
    case data::OperatorErrorKind::NotFound:
        return QStringLiteral("找不到操作员 %1,也许别的收银台刚改过。请关闭用户管理再打开。").arg(userid);
    case data::OperatorErrorKind::DuplicateUsername:
        return QStringLiteral("用户名“%1”已经有人用了,请换一个。").arg(username);
    case data::OperatorErrorKind::DuplicateUserid:
        return QStringLiteral("编号 %1 已经有人用了,请换一个。").arg(userid);
    case data::OperatorErrorKind::WeakPassword:
        return weaknessMessage(error.weakness());
    case data::OperatorErrorKind::WrongPassword:
        return QStringLiteral("原密码不对,请重新录入!");
    case data::OperatorErrorKind::LastAdministrator:
        return QStringLiteral("不能这样做:这样就没有一位启用的操作员有“用户管理”权限了,"
                              "以后谁也不能再管理用户。");
    case data::OperatorErrorKind::SelfAdministrator:
        return QStringLiteral("不能取消自己的“用户管理”权限,也不能停用自己。请让另一位有“用户管理”权限的操作员来做。");
    case data::OperatorErrorKind::InvalidInput:
        break;
    }
    return QStringLiteral("输入的内容不能保存:%1").arg(QString::fromUtf8(error.what()));
}

} // namespace velmora
