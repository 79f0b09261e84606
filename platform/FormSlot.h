#pragma once

#include <QEvent>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>

// The one instance of a modeless window: loaded on first use (its constructor is its load
// step), never loaded twice while open, unloaded when the user closes it. Reading a control of
// a window that is not loaded loads it hidden, which is what get() does.
class FormSlotBase : public QObject
{
public:
    bool isLoaded() const { return !m_form.isNull(); }
    // Closes and deletes the window, as if the user had closed it.
    void unload()
    {
        if (m_form)
            m_form->close();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_form && event->type() == QEvent::Close) {
            // Our windows never refuse to close: the window is unloaded from now on, and a new
            // request loads a fresh one even before this one is deleted.
            m_form->deleteLater();
            m_form.clear();
        }
        return false;
    }
    QPointer<QWidget> m_form;
};

template <class Form>
class FormSlot : public FormSlotBase
{
public:
    using Factory = std::function<Form*()>;
    explicit FormSlot(Factory factory = [] { return new Form(); }) : m_factory(std::move(factory)) {}
    ~FormSlot() override { delete m_form.data(); }

    // The loaded window, loading it hidden when needed.
    Form* get()
    {
        if (!m_form) {
            Form* form = m_factory();
            form->installEventFilter(this);
            m_form = form;
        }
        return static_cast<Form*>(m_form.data());
    }
    // Shows the window modeless (loading it when needed) and brings it forward.
    Form* show()
    {
        Form* form = get();
        form->show();
        form->raise();
        form->activateWindow();
        return form;
    }
    Form* loaded() const { return static_cast<Form*>(m_form.data()); }

private:
    Factory m_factory;
};
