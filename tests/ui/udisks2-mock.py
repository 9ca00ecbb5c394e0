'''UDisks2 on the session bus for the device tests: removable drives each with
one file system, added, mounted, unmounted and removed by the test through the
org.freedesktop.DBus.Mock interface, and Mount, Unmount and PowerOff answered
as UDisks2 answers them.

Parameters: mount_root, the folder in which Mount makes a file system's mount
point, named after its label.
'''

import os

import dbus

from dbusmock import MOCK_IFACE, mockobject

BUS_NAME = 'org.freedesktop.UDisks2'
MAIN_OBJ = '/org/freedesktop/UDisks2'
SYSTEM_BUS = False
IS_OBJECT_MANAGER = True

OBJECT_MANAGER_IFACE = 'org.freedesktop.DBus.ObjectManager'
BLOCK_IFACE = 'org.freedesktop.UDisks2.Block'
FILESYSTEM_IFACE = 'org.freedesktop.UDisks2.Filesystem'
DRIVE_IFACE = 'org.freedesktop.UDisks2.Drive'


def load(mock, parameters):
    mock.mount_root = parameters.get('mount_root', '/tmp')
    mock.failures = {}


def fail_if_asked(method):
    error = manager().failures.pop(method, None)
    if error:
        raise dbus.exceptions.DBusException(error[1], name='org.freedesktop.UDisks2.Error.' + error[0])


def block_path(name):
    return MAIN_OBJ + '/block_devices/' + name


def drive_path(name):
    return MAIN_OBJ + '/drives/' + name


def manager():
    return mockobject.objects[MAIN_OBJ]


def mount_points(path):
    return dbus.Array([dbus.ByteArray(os.fsencode(path) + b'\0')] if path else [], signature='ay')


def set_mount_point(block, path):
    block.UpdateProperties(FILESYSTEM_IFACE, {'MountPoints': mount_points(path)})


def announce(path):
    manager().EmitSignal(OBJECT_MANAGER_IFACE, 'InterfacesAdded', 'oa{sa{sv}}',
                         [dbus.ObjectPath(path), mockobject.objects[path].props])


def withdraw(path):
    interfaces = list(mockobject.objects[path].props.keys())
    manager().RemoveObject(path)
    manager().EmitSignal(OBJECT_MANAGER_IFACE, 'InterfacesRemoved', 'oas', [dbus.ObjectPath(path), interfaces])


def Mount(block, _options):
    fail_if_asked('Mount')
    folder = os.path.join(manager().mount_root, str(block.props[BLOCK_IFACE]['IdLabel']))
    os.makedirs(folder, exist_ok=True)
    set_mount_point(block, folder)
    return folder


def Unmount(block, _options):
    fail_if_asked('Unmount')
    set_mount_point(block, '')


# A drive powered off leaves the bus, its file system with it.
def PowerOff(drive, _options):
    fail_if_asked('PowerOff')
    name = drive.path.rsplit('/', 1)[1]
    withdraw(block_path(name))
    withdraw(drive.path)


@dbus.service.method(MOCK_IFACE, in_signature='sssts', out_signature='')
def AddDevice(self, name, label, uuid, size, mount_point):
    '''A removable drive NAME with a file system labelled LABEL, mounted at MOUNT_POINT unless that is empty.'''
    self.AddObject(drive_path(name), DRIVE_IFACE,
                   {'Removable': True, 'MediaRemovable': True, 'CanPowerOff': True, 'Size': dbus.UInt64(size)},
                   [('PowerOff', 'a{sv}', '', PowerOff)])
    announce(drive_path(name))
    self.AddObject(block_path(name), BLOCK_IFACE,
                   {'Device': dbus.ByteArray(os.fsencode('/dev/' + name) + b'\0'), 'IdLabel': label,
                    'IdUUID': uuid, 'Size': dbus.UInt64(size), 'Drive': dbus.ObjectPath(drive_path(name)),
                    'HintIgnore': False},
                   [])
    block = mockobject.objects[block_path(name)]
    block.AddProperties(FILESYSTEM_IFACE, {'MountPoints': mount_points(mount_point)})
    block.AddMethods(FILESYSTEM_IFACE, [('Mount', 'a{sv}', 's', Mount), ('Unmount', 'a{sv}', '', Unmount)])
    announce(block_path(name))


@dbus.service.method(MOCK_IFACE, in_signature='s', out_signature='')
def RemoveDevice(_self, name):
    '''The drive NAME pulled out.'''
    withdraw(block_path(name))
    withdraw(drive_path(name))


@dbus.service.method(MOCK_IFACE, in_signature='ss', out_signature='')
def SetMountPoint(_self, name, mount_point):
    '''The file system of NAME mounted at MOUNT_POINT by another program, or unmounted when that is empty.'''
    set_mount_point(mockobject.objects[block_path(name)], mount_point)


@dbus.service.method(MOCK_IFACE, in_signature='sss', out_signature='')
def FailNext(self, method, error, message):
    '''The next call of METHOD (Mount, Unmount or PowerOff) fails as UDisks2 fails: with the error
    org.freedesktop.UDisks2.Error.ERROR ("DeviceBusy", "NotAuthorizedCanObtain") and MESSAGE.'''
    self.failures[method] = (error, message)
