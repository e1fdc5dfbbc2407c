#include "app/QtRackWindow.h"

#include <QMetaObject>

#include "common/MessageSink.h"
#include "vsthost/VstRack.h"

namespace sonrigo {

void QtRackWindow::waveBufferDone(WaveHeader* header)
{
    QMetaObject::invokeMethod(
        owner_,
        [this, header] {
            if (rack_ != nullptr)
                rack_->onBufferDone(header);
        },
        Qt::QueuedConnection);
}

void QtRackWindow::rackMessage(const char* text)
{
    // The message sink queues it to the user-interface thread and returns.
    ShowMessage(text);
}

}  // namespace sonrigo
