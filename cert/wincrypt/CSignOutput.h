#pragma once
// Where a signed message goes, chosen once per signing: the output file or a
// caller's sink.
#include <windows.h>

#include "platform/framework/CFileWriteBuffer.h"
#include "util/CByteStream.h"
#include "util/CFlushBehind.h"

class CFileHandle;

// Consumed hears of the content read so far; Flush empties what is held back,
// Commit makes the message durable, Abort stops what runs behind before the
// output goes.
class CSignOutput : public CByteSink {
public:
    virtual void Consumed(size_t nSize) {}
    virtual bool Flush(DWORD& dwError) { return true; }
    virtual bool Commit(DWORD& dwError) { return true; }
    virtual void Abort() {}
};

// The output file, written in blocks of nIoSize and flushed behind as it grows.
class CFileSignOutput : public CSignOutput {
public:
    CFileSignOutput(CFileHandle& file, DWORD nIoSize);
    bool Write(const uint8_t* pData, size_t nSize, DWORD& dwError) override;
    void Consumed(size_t nSize) override;
    bool Flush(DWORD& dwError) override;
    bool Commit(DWORD& dwError) override;
    void Abort() override;

private:
    CFileHandle& m_file;
    CFileWriteBuffer m_buffer;
    CFlushBehind m_flushBehind;
};

// A caller's sink, which takes the message as it comes.
class CSinkSignOutput : public CSignOutput {
public:
    explicit CSinkSignOutput(CByteSink& sink) : m_sink(sink) {}
    bool Write(const uint8_t* pData, size_t nSize, DWORD& dwError) override
    {
        return m_sink.Write(pData, nSize, dwError);
    }

private:
    CByteSink& m_sink;
};
