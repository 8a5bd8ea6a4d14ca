#include "ov/ovCPtrList.h"

#include <new>

bool ovCPtrList::Add(void* item)
{
    Node* node = new (std::nothrow) Node{item, m_tail, nullptr};
    if (!node) {
        return false;
    }
    if (m_tail) {
        m_tail->next = node;
    } else {
        m_head = node;
    }
    m_tail = node;
    ++m_count;
    return true;
}

ovCPtrList::Node* ovCPtrList::NodeAt(int index)
{
    if (index < 0 || index >= m_count) {
        return nullptr;
    }
    Node* node = m_head;
    int at = 0;
    if (m_cursor && m_cursorIndex <= index) {
        node = m_cursor;
        at = m_cursorIndex;
    }
    while (at < index) {
        node = node->next;
        ++at;
    }
    m_cursor = node;
    m_cursorIndex = index;
    return node;
}

void* ovCPtrList::GetAt(int index)
{
    Node* node = NodeAt(index);
    return node ? node->item : nullptr;
}

void ovCPtrList::Unlink(Node* node, int index)
{
    (node->prev ? node->prev->next : m_head) = node->next;
    (node->next ? node->next->prev : m_tail) = node->prev;
    --m_count;
    if (node == m_cursor) {
        m_cursor = m_head;
        m_cursorIndex = 0;
    } else if (m_cursor && index < m_cursorIndex) {
        --m_cursorIndex;
    }
    delete node;
}

void* ovCPtrList::RemoveAt(int index)
{
    Node* node = NodeAt(index);
    if (!node) {
        return nullptr;
    }
    void* item = node->item;
    Unlink(node, index);
    return item;
}

void* ovCPtrList::Remove(void* item)
{
    if (m_cursor && m_cursor->item == item) {
        Unlink(m_cursor, m_cursorIndex);
        return item;
    }
    int index = 0;
    for (Node* node = m_head; node; node = node->next, ++index) {
        if (node->item == item) {
            Unlink(node, index);
            return item;
        }
    }
    return nullptr;
}

void ovCPtrList::RemoveAll()
{
    Node* node = m_head;
    while (node) {
        Node* next = node->next;
        delete node;
        node = next;
    }
    m_head = m_tail = m_cursor = nullptr;
    m_count = 0;
    m_cursorIndex = 0;
}
