// Holder of one UDP socket and the thread that receives on it.
#ifndef QG_SESSION_UDP_HELPER_H
#define QG_SESSION_UDP_HELPER_H

#include <atomic>
#include <pthread.h>
#include <stdint.h>
#include <string>

class CUDPHelper
{
public:
    CUDPHelper();
    virtual ~CUDPHelper();

    // Binds a UDP socket to localPort (0: any) on every local address. 0, or
    // -1 with the reason in error and nothing open.
    int Open(uint16_t localPort, std::string* error);
    // Connects the socket to one peer (host order); from then on only that
    // peer's datagrams are handed on. 0, or -1 with the reason in error.
    int Connect(uint32_t peerIp, uint16_t peerPort, std::string* error);
    // The bound port, 0 without a socket.
    uint16_t LocalPort() const;
    // The thread that hands each datagram to OnReceive, looking at the stop
    // flag every 100 ms. 0, or -1 without a socket or a thread.
    int StartReceive();
    // Stops and joins the receive thread, then closes the socket.
    void Close();

protected:
    // On the receive thread; data is valid during the call.
    virtual void OnReceive(const char* data, uint32_t length, uint32_t ip, uint32_t port);
    int Socket() const { return m_socket.load(); }

private:
    CUDPHelper(const CUDPHelper&) = delete;
    CUDPHelper& operator=(const CUDPHelper&) = delete;

    static void* ReceiveThread(void* self);
    void ReceiveLoop();

    std::atomic<int64_t> m_stop;
    pthread_t m_receiveThread;
    bool m_hasReceiveThread;
    std::atomic<int> m_socket;  // -1 while none is open: 0 is a descriptor too
    bool m_hasPeer;             // set before the receive thread starts
    uint32_t m_peerIp;
    uint16_t m_peerPort;
};

#endif
