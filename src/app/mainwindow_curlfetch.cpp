// The window's libcurl fetch of one file from the update server.
#include "app/mainwindow.h"
#include "app/mainwindow_notices.h"
#include "core/dataroot.h"
#include "online/curlfetch.h"
#include "online/updateserver.h"

#include <curl/curl.h>

int MainWindow::Slot_CurlTest(QString FtpFilePath, QString LoadingLocalPath)
{
    const QByteArray url = updateUrl(updateServerAddress(), updateServerPort(), FtpFilePath).toLatin1();
    const QByteArray localName = (LoadingLocalPath + FtpFilePath).toLocal8Bit();
    UrlFetchFile target;
    target.fileName = localName.constData();

    curl_global_init(CURL_GLOBAL_ALL);
    CURLcode result = CURLE_FAILED_INIT;
    if (CURL* handle = curl_easy_init()) {
        curl_easy_setopt(handle, CURLOPT_URL, url.constData());
        curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &WriteToFile);
        curl_easy_setopt(handle, CURLOPT_WRITEDATA, &target);
        curl_easy_setopt(handle, CURLOPT_VERBOSE, curlTrace() ? 1L : 0L);
        // A server that stops answering ends the fetch instead of the GUI.
        curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, kCurlTimeoutSeconds);
        curl_easy_setopt(handle, CURLOPT_SERVER_RESPONSE_TIMEOUT, kCurlTimeoutSeconds);
        curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, kCurlTimeoutSeconds);
        curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
        result = curl_easy_perform(handle);
        curl_easy_cleanup(handle);
    }
    if (target.stream && std::fclose(target.stream) != 0) {
        target.error = target.error ? target.error : errno;
        if (result == CURLE_OK)
            result = CURLE_WRITE_ERROR; // the file's end may be missing
    }
    if (result != CURLE_OK)
        std::fprintf(stderr, "curl told us %d\n", static_cast<int>(result));
    curl_global_cleanup();
    localWriteFailed = false;
    // A local file that cannot be written is this computer's problem, not
    // the network's: say which file and why.
    if (result == CURLE_WRITE_ERROR && target.error != 0) {
        QString reason;
        const QString path = explainWriteFailure(LoadingLocalPath + FtpFilePath, target.error, &reason);
        notices::localWriteError(*this, path, reason);
    }
    return static_cast<int>(result);
}
