#include "login/LookupCombo.h"

#include "data/dataset/DataSource.h"
#include "data/dataset/Dataset.h"

#include <QAbstractItemView>
#include <QKeyEvent>
#include <QLineEdit>

#include <algorithm>
#include <exception>

namespace velmora {

LookupCombo::LookupCombo(QWidget* parent) : QComboBox(parent)
{
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    setCompleter(nullptr); // completion follows the list's own rules below
    setMaxVisibleItems(7);

    // Qt's combo box chooses an item of its own accord when Enter is pressed
    // in the text or the text loses the focus; here those moments belong to
    // the list's rules and to the dialog.
    QObject::disconnect(lineEdit(), &QLineEdit::returnPressed, this, nullptr);
    QObject::disconnect(lineEdit(), &QLineEdit::editingFinished, this, nullptr);

    connect(lineEdit(), &QLineEdit::textEdited, this,
            [this](const QString& text) { guarded([&] { textEdited(text); }); });
    connect(this, &QComboBox::highlighted, this, [this](int row) {
        // While the drop-down is open the dataset follows the highlighted entry.
        guarded([&] {
            data::Dataset* ds = dataset();
            if (ds != nullptr && ds->active() && row >= 0 && row < ds->recordCount())
                ds->moveTo(row);
        });
    });
    connect(this, &QComboBox::activated, this, [this](int row) {
        guarded([&] { chooseRow(row); });
        lineEdit()->selectAll();
    });
}

void LookupCombo::setListSource(data::DataSource* source, std::string keyField, std::string listField)
{
    m_source = source;
    m_keyField = std::move(keyField);
    m_listField = std::move(listField);
}

data::Dataset* LookupCombo::dataset() const
{
    return m_source != nullptr ? m_source->dataSet() : nullptr;
}

QString LookupCombo::chosenKey() const
{
    return m_chosenKey ? QString::fromStdString(*m_chosenKey) : QString();
}

void LookupCombo::reload()
{
    m_entries.clear();
    m_chosenKey.reset();
    m_focusInKey.reset();
    m_focusInText.clear();
    clear();

    data::Dataset* ds = dataset();
    if (ds != nullptr && ds->active()) {
        const int saved = ds->recNo();
        data::Field& key = ds->fieldByName(m_keyField);
        data::Field& shown = ds->fieldByName(m_listField);
        for (int row = 0; row < ds->recordCount(); ++row) {
            ds->moveTo(row);
            m_entries.push_back({key.asString(), QString::fromStdString(shown.asString())});
        }
        // Reading the list is no choice: the dataset stays where it stood.
        if (saved >= 0)
            ds->moveTo(saved);
    }
    for (const Entry& entry : m_entries)
        addItem(entry.shown);
    setCurrentIndex(-1);
    lineEdit()->clear();
}

void LookupCombo::chooseKey(const std::string& key)
{
    data::Dataset* ds = dataset();
    if (ds == nullptr || !ds->active() || !ds->locate(m_keyField, key)) {
        clearChoice(lineEdit()->text(), lineEdit()->cursorPosition());
        return;
    }
    m_chosenKey = key;
    const int row = ds->recNo();
    const QString shown = QString::fromStdString(ds->fieldByName(m_listField).asString());
    if (currentIndex() != row)
        setCurrentIndex(row < count() ? row : -1);
    if (lineEdit()->text() != shown)
        lineEdit()->setText(shown);
}

void LookupCombo::chooseRow(int row)
{
    if (row >= 0 && row < static_cast<int>(m_entries.size()))
        chooseKey(m_entries[static_cast<std::size_t>(row)].key);
}

void LookupCombo::clearChoice(const QString& text, int cursor)
{
    m_chosenKey.reset();
    if (currentIndex() != -1)
        setCurrentIndex(-1);
    if (lineEdit()->text() != text)
        lineEdit()->setText(text);
    lineEdit()->setCursorPosition(cursor);
}

// Looks for the row the text names and chooses it. A prefix search finds the
// first row whose shown column begins with the text (letter case ignored; a
// number column must equal the text's number); otherwise the whole text must
// match.
bool LookupCombo::searchAndChoose(const QString& text, bool prefix)
{
    data::Dataset* ds = dataset();
    if (text.isEmpty() || ds == nullptr || !ds->active())
        return false;
    if (!ds->locate(m_listField, text.toStdString(), {.caseInsensitive = true, .partialKey = prefix}))
        return false;
    chooseKey(ds->fieldByName(m_keyField).asString());
    return m_chosenKey.has_value();
}

void LookupCombo::textEdited(const QString& text)
{
    QLineEdit* edit = lineEdit();
    const int cursor = edit->cursorPosition();
    const bool completing = m_typingCharacter && cursor == text.size() && !edit->hasSelectedText();
    if (!searchAndChoose(text, completing)) {
        clearChoice(text, cursor);
        return;
    }
    if (completing) {
        // The completed remainder is selected, so the next character replaces it.
        const int remainder = edit->text().size() - text.size();
        if (remainder > 0)
            edit->setSelection(text.size(), remainder);
        else
            edit->end(false);
    } else {
        edit->setCursorPosition(std::min(cursor, static_cast<int>(edit->text().size())));
    }
}

void LookupCombo::relocate()
{
    if (m_chosenKey) {
        data::Dataset* ds = dataset();
        if (ds != nullptr && ds->active() && !ds->locate(m_keyField, *m_chosenKey))
            clearChoice(lineEdit()->text(), lineEdit()->cursorPosition());
        return;
    }
    const QString text = lineEdit()->text();
    if (searchAndChoose(text, false))
        lineEdit()->selectAll();
}

void LookupCombo::stepRow(int delta)
{
    const int rows = static_cast<int>(m_entries.size());
    if (rows == 0)
        return;
    int row = -1;
    if (m_chosenKey) {
        const auto it = std::find_if(m_entries.cbegin(), m_entries.cend(),
                                     [&](const Entry& entry) { return entry.key == *m_chosenKey; });
        if (it != m_entries.cend())
            row = static_cast<int>(it - m_entries.cbegin());
    }
    chooseRow(row < 0 ? 0 : std::clamp(row + delta, 0, rows - 1));
    lineEdit()->selectAll();
}

bool LookupCombo::changedSinceFocusIn() const
{
    return m_chosenKey != m_focusInKey || lineEdit()->text() != m_focusInText;
}

void LookupCombo::restoreFocusInState()
{
    if (m_focusInKey)
        chooseKey(*m_focusInKey);
    else
        clearChoice(m_focusInText, static_cast<int>(m_focusInText.size()));
    lineEdit()->selectAll();
}

void LookupCombo::showPopup()
{
    QComboBox::showPopup();
    // With no operator chosen nothing is highlighted: the first Down goes to
    // the first entry.
    if (!m_chosenKey) {
        view()->selectionModel()->clear();
        view()->setCurrentIndex(QModelIndex());
    }
    // As wide as the list itself, whatever the entries' widths.
    if (QWidget* popup = view()->parentWidget())
        popup->resize(width(), popup->height());
}

void LookupCombo::keyPressEvent(QKeyEvent* event)
{
    m_typingCharacter = false;
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
        if (event->modifiers() & Qt::AltModifier)
            break; // Alt+Down opens the drop-down, Alt+Up closes it
        guarded([&] { stepRow(event->key() == Qt::Key_Down ? 1 : -1); });
        event->accept();
        return;
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        // Only Up and Down walk the operators while the drop-down is closed.
        event->accept();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->ignore(); // the dialog's key
        return;
    case Qt::Key_Escape:
        if (event->modifiers() == Qt::NoModifier && changedSinceFocusIn()) {
            guarded([&] { restoreFocusInState(); });
            event->accept();
            return;
        }
        event->ignore(); // the dialog's cancel key
        return;
    default:
        m_typingCharacter = !event->text().isEmpty() && event->text().front().isPrint();
        break;
    }
    QComboBox::keyPressEvent(event);
    m_typingCharacter = false;
}

void LookupCombo::focusInEvent(QFocusEvent* event)
{
    QComboBox::focusInEvent(event);
    // The drop-down taking and giving back the keyboard is no change of focus.
    if (event->reason() == Qt::PopupFocusReason)
        return;
    guarded([&] { relocate(); });
    m_focusInKey = m_chosenKey;
    m_focusInText = lineEdit()->text();
}

void LookupCombo::focusOutEvent(QFocusEvent* event)
{
    QComboBox::focusOutEvent(event);
    if (event->reason() == Qt::PopupFocusReason)
        return;
    guarded([&] { relocate(); });
}

void LookupCombo::wheelEvent(QWheelEvent* event)
{
    // The wheel would change the choice without the list's rules.
    event->ignore();
}

void LookupCombo::guarded(const std::function<void()>& work)
{
    try {
        work();
    } catch (const std::exception& error) {
        if (m_onError)
            m_onError(QString::fromUtf8(error.what()));
    }
}

} // namespace velmora
