// ThreadSanitizer cannot see Qt's event queue (a futex lock in Qt, which is not built with it), so
// every result a worker hands to the main thread by a queued call would look like a race. In the
// Qt tests of the ThreadSanitizer build, this QMetaObject::invokeMethodImpl takes the place of
// Qt's: it tells the sanitizer that the call runs after its posting, then posts it.
#include <QObject>
#include <dlfcn.h>
#include <sanitizer/tsan_interface.h>

// The posted slot object inside one that acquires, where it runs, what the posting released.
struct Ordered final : QtPrivate::QSlotObjectBase {
    explicit Ordered(QtPrivate::QSlotObjectBase* slot) : QSlotObjectBase(&impl), slot_(slot) {}
    static void impl(int which, QSlotObjectBase* self, QObject* receiver, void** args, bool*) {
        auto* ordered = static_cast<Ordered*>(self);
        __tsan_acquire(ordered);
        if (which == Call) {
            ordered->slot_->call(receiver, args);
        } else if (which == Destroy) { // never compared: nothing disconnects a posted call
            ordered->slot_->destroyIfLastRef();
            delete ordered;
        }
    }
    QtPrivate::QSlotObjectBase* slot_;
};

bool QMetaObject::invokeMethodImpl(QObject* object, QtPrivate::QSlotObjectBase* slot,
                                   Qt::ConnectionType type, void* ret) {
    using Post = bool (*)(QObject*, QtPrivate::QSlotObjectBase*, Qt::ConnectionType, void*);
    static const auto qt = reinterpret_cast<Post>(dlsym(
        RTLD_NEXT, "_ZN11QMetaObject16invokeMethodImplEP7QObjectPN9QtPrivate15QSlotObjectBaseEN2Qt"
                   "14ConnectionTypeEPv"));
    auto* ordered = new Ordered(slot);
    __tsan_release(ordered);
    return qt(object, ordered, type, ret);
}
